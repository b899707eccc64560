#include "core/wav/wav_header_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/base/errors.h"
#include "core/base/number_format.h"

namespace ril {

namespace {

constexpr std::size_t kHeaderRecordSize = 36;

// Buffered reading on top of a ByteSource, with bytes that can be handed back
// (so the search can restart inside the 36 bytes already read) and the unread
// rest handed on to the analysis.
class HeaderStream {
 public:
  explicit HeaderStream(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

  std::size_t read(unsigned char* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (pos_ == buf_.size() && !refill()) break;
      std::size_t n = std::min(count - done, buf_.size() - pos_);
      std::memcpy(out + done, buf_.data() + pos_, n);
      pos_ += n;
      done += n;
    }
    return done;
  }

  bool readByte(unsigned char& b) {
    if (pos_ == buf_.size() && !refill()) return false;
    b = buf_[pos_++];
    return true;
  }

  std::uint64_t skip(std::uint64_t count) {
    std::uint64_t avail = buf_.size() - pos_;
    if (count <= avail) {
      pos_ += static_cast<std::size_t>(count);
      return count;
    }
    pos_ = buf_.size();
    return avail + (source_ && !ended_ ? source_->skip(count - avail) : 0);
  }

  void pushFront(const unsigned char* bytes, std::size_t count) {
    std::vector<unsigned char> rest(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.end());
    buf_.assign(bytes, bytes + count);
    buf_.insert(buf_.end(), rest.begin(), rest.end());
    pos_ = 0;
  }

  std::unique_ptr<ByteSource> release() {
    std::vector<unsigned char> rest(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.end());
    return std::make_unique<PrefixedSource>(std::move(rest), std::move(source_));
  }

 private:
  bool refill() {
    if (!source_ || ended_) return false;
    buf_.resize(65536);
    std::size_t n = source_->read(buf_.data(), buf_.size());
    buf_.resize(n);
    pos_ = 0;
    if (n == 0) ended_ = true;
    return n > 0;
  }

  std::unique_ptr<ByteSource> source_;
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int16_t le16s(const unsigned char* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

// Identifier bytes as text; bytes that are not printable ASCII show as "?".
std::string idText(const unsigned char* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
  return s;
}

// A number as the window's print operation writes it: a blank in front when
// not negative, and a blank behind.
std::string printedNumber(std::int64_t v) {
  return (v >= 0 ? " " : "") + std::to_string(v) + " ";
}

std::string unreadableLine(const RunError& e) {
  return "Cannot read the file: " + errorDescription(e.number()) + " (error " +
         std::to_string(e.number()) + ")";
}

}  // namespace

HeaderReading parseWavHeader(std::unique_ptr<ByteSource> source, std::uint64_t fileLength,
                             const std::string& path, const std::string& lineBreak) {
  HeaderReading r;
  auto line = [&](const std::string& text) { r.lines += text + lineBreak; };
  const auto L = static_cast<std::int64_t>(fileLength);

  line("Filename:\t" + path);
  line("Filelength:\t" + formatNumber(static_cast<double>(fileLength) / 1024 / 1024, "0.000 MB"));
  if (fileLength == 0) {
    r.status = HeaderStatus::kEmpty;
    return r;
  }

  HeaderStream in(std::move(source));
  try {
    unsigned char h[kHeaderRecordSize] = {};
    std::size_t got = in.read(h, sizeof h);

    const std::uint32_t riffSize = le32(h + 4);
    const std::uint32_t fmtChunkLen = le32(h + 16);
    r.formatTag = le16s(h + 20);
    r.channels = le16s(h + 22);
    r.sampleRate = static_cast<std::int32_t>(le32(h + 24));
    const auto avgBytesPerSec = static_cast<std::int32_t>(le32(h + 28));
    const std::int16_t blockAlign = le16s(h + 32);
    r.bitsPerSample = le16s(h + 34);
    r.formatRead = true;

    if (std::memcmp(h, "RIFF", 4) != 0) line(idText(h, 4));
    if (static_cast<std::int64_t>(riffSize) != L - 8) line(std::to_string(riffSize));
    if (std::memcmp(h + 8, "WAVEfmt ", 8) != 0) r.windowLines.push_back(idText(h + 8, 8));
    if (fmtChunkLen < 16) r.windowLines.push_back("fmt_ChunkLen = " + printedNumber(fmtChunkLen));
    if (r.formatTag != 1)
      r.windowLines.push_back("WAV-file has no PCM format (" + printedNumber(r.formatTag) +
                              " instead of 1)");

    line("Nr of channels:\t" + std::to_string(r.channels) +
         (r.channels == 1 ? " (Mono)" : " (Stereo)"));
    line("Sample frequ.:\t" + std::to_string(r.sampleRate) + " Hz");
    line("Resolution:\t" + std::to_string(r.bitsPerSample) + " bit");
    if (static_cast<std::int64_t>(avgBytesPerSec) !=
        static_cast<std::int64_t>(blockAlign) * r.sampleRate)
      line(std::to_string(avgBytesPerSec));
    if (static_cast<std::int64_t>(blockAlign) * 8 !=
        static_cast<std::int64_t>(r.channels) * r.bitsPerSample)
      line(std::to_string(blockAlign));

    // The rest of the format chunk; an extensible format names its sample
    // format in the first two bytes of the sub-format at chunk offset 24.
    int subFormat = -1;
    if (fmtChunkLen > 16) {
      std::uint64_t rest = fmtChunkLen - 16;
      unsigned char ext[10] = {};
      std::size_t extLen = static_cast<std::size_t>(std::min<std::uint64_t>(rest, sizeof ext));
      std::size_t extGot = in.read(ext, extLen);
      if (extGot == sizeof ext) subFormat = ext[8] | ext[9] << 8;
      if (extGot == extLen) in.skip(rest - extLen);
    } else if (fmtChunkLen < 16) {
      // A short format chunk ends inside the 36 bytes already read: search from its end.
      std::size_t start = fmtChunkLen + 20;
      if (start < got) in.pushFront(h + start, got - start);
    }

    // Byte-wise search for the data chunk identifier.
    r.dataOffset = static_cast<std::int64_t>(fmtChunkLen) + 20;
    unsigned char w[4] = {};
    bool atEnd = in.read(w, 4) < 4;
    r.dataOffset += 4;
    while (std::memcmp(w, "data", 4) != 0 && !atEnd) {
      unsigned char b;
      if (!in.readByte(b)) {
        atEnd = true;
        break;
      }
      ++r.dataOffset;
      std::memmove(w, w + 1, 3);
      w[3] = b;
    }
    unsigned char sizeBytes[4];
    // A file that ends inside the size field behind "data" has no data chunk either.
    if (std::memcmp(w, "data", 4) != 0 || in.read(sizeBytes, 4) < 4) {
      line("No data chuk found!");
      r.status = HeaderStatus::kNoDataChunk;
      return r;
    }
    r.dataFound = true;
    r.dataSize = le32(sizeBytes);
    r.dataOffset += 4;
    r.trailerLength = L - r.dataOffset - static_cast<std::int64_t>(r.dataSize);

    const bool framesKnown = r.channels > 0 && r.bitsPerSample > 0;
    if (framesKnown) {
      double frames = static_cast<double>(r.dataSize) / (r.bitsPerSample / 8.0) / r.channels;
      r.sampleFrames = static_cast<std::int64_t>(std::nearbyint(frames));
    }
    if (framesKnown && r.sampleRate > 0) {
      double s = static_cast<double>(r.sampleFrames) / r.sampleRate;
      double m = std::floor(s / 60);
      double rest = s - m * 60;
      line("Length of file:\t" + formatNumber(m, "00:") + formatNumber(rest, "00") + " (Min:Sec)");
    }

    // Which sample data the program can process.
    std::string why;
    if (r.channels != 1 && r.channels != 2) {
      why = "it has " + std::to_string(r.channels) +
            " channels; only mono and stereo files are supported.";
    } else if (r.bitsPerSample != 8 && r.bitsPerSample != 16) {
      why = "it has " + std::to_string(r.bitsPerSample) +
            "-bit samples; only 8-bit and 16-bit samples are supported.";
    } else if (r.formatTag != 1 && !(r.formatTag == -2 && (subFormat == -1 || subFormat == 1))) {
      why = "its samples are not PCM (format tag " + std::to_string(r.formatTag) +
            (subFormat > 0 ? ", sub-format " + std::to_string(subFormat) : std::string()) + ").";
    } else if (r.sampleRate <= 0) {
      why = "its sample rate of " + std::to_string(r.sampleRate) + " Hz is not valid.";
    }
    if (!why.empty()) {
      line("This file cannot be analysed: " + why);
      r.status = HeaderStatus::kUnsupported;
      return r;
    }
    const std::int64_t frameBytes = r.channels * (r.bitsPerSample / 8);
    const std::int64_t present = std::max<std::int64_t>(0, L - r.dataOffset);
    r.framesInFile = std::min<std::int64_t>(r.dataSize / frameBytes, present / frameBytes);
    r.status = HeaderStatus::kReady;
    r.input = in.release();
  } catch (const RunError& e) {
    line(unreadableLine(e));
    r.status = HeaderStatus::kUnreadable;
    r.dataFound = false;
    r.input.reset();
  }
  return r;
}

void ReadWavHeader(ProgramState& state, int fileIndex, bool showReport, FileSystem& fs,
                   MainView& view) {
  state.wavInput.reset();
  const std::string path =
      fileIndex >= 0 && static_cast<std::size_t>(fileIndex) < state.filePaths.size()
          ? state.filePaths[static_cast<std::size_t>(fileIndex)]
          : std::string();
  HeaderReading r;
  std::uint64_t length = 0;
  try {
    length = fs.fileLength(path);
    std::unique_ptr<ByteSource> source;
    if (length > 0) source = fs.openRead(path);
    r = parseWavHeader(std::move(source), length, path, state.lineBreak);
  } catch (const RunError& e) {
    r = HeaderReading();
    r.lines = "Filename:\t" + path + state.lineBreak + unreadableLine(e) + state.lineBreak;
    r.status = HeaderStatus::kUnreadable;
  }

  state.headerStatus = r.status;
  state.framesInFile = 0;
  if (r.formatRead) {
    state.formatTag = r.formatTag;
    state.channels = r.channels;
    state.sampleRate = r.sampleRate;
    state.bitsPerSample = r.bitsPerSample;
    state.dataOffset = r.dataOffset;
  }
  if (r.dataFound) {
    state.dataSize = r.dataSize;
    state.sampleFrames = r.sampleFrames;
    state.trailerLength = r.trailerLength;
    state.framesInFile = r.framesInFile;
  }
  state.fileLength = static_cast<std::int64_t>(length);
  if (r.status == HeaderStatus::kReady) state.wavInput = std::move(r.input);

  for (const std::string& l : r.windowLines) view.printLine(l);
  if (showReport) {
    state.reportText += r.lines;
    view.setReportText(state.reportText);
    view.repaintNow();
  }
}

}  // namespace ril
