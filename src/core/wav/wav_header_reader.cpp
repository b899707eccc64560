#include "core/wav/wav_header_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/base/errors.h"

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

// The fixed 36-byte record at the start of the file: the RIFF header and the
// format chunk as the first chunk.
void readFixedRecord(const unsigned char* h, WavHeader& w) {
  HeaderFindings& f = w.findings;
  WavFormat& format = w.format;
  const auto length = static_cast<std::int64_t>(w.layout.fileLength);
  f.riffId = idText(h, 4);
  f.riffIdWrong = std::memcmp(h, "RIFF", 4) != 0;
  f.riffSize = le32(h + 4);
  f.riffSizeWrong = static_cast<std::int64_t>(f.riffSize) != length - 8;
  f.formAndFirstChunk = idText(h + 8, 8);
  f.formAndFirstChunkWrong = std::memcmp(h + 8, "WAVEfmt ", 8) != 0;
  f.fmtChunkLength = le32(h + 16);
  format.formatTag = le16s(h + 20);
  format.channels = le16s(h + 22);
  format.sampleRate = static_cast<std::int32_t>(le32(h + 24));
  f.byteRate = static_cast<std::int32_t>(le32(h + 28));
  f.blockAlign = le16s(h + 32);
  format.bitsPerSample = le16s(h + 34);
  f.formatRead = true;
  f.byteRateWrong = static_cast<std::int64_t>(f.byteRate) !=
                    static_cast<std::int64_t>(f.blockAlign) * format.sampleRate;
  f.blockAlignWrong = static_cast<std::int64_t>(f.blockAlign) * 8 !=
                      static_cast<std::int64_t>(format.channels) * format.bitsPerSample;
}

// Skips the rest of the format chunk. An extensible format names its sample
// format in the first two bytes of the sub-format at chunk offset 24; returns
// it, or -1 when the chunk is too short to hold it.
int skipFormatRest(HeaderStream& in, const unsigned char* h, std::size_t got,
                   std::uint32_t fmtChunkLen) {
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
  return subFormat;
}

// Byte-wise search for the data chunk's identifier and its size field behind
// it; false when the file ends first.
bool findDataChunk(HeaderStream& in, std::uint32_t fmtChunkLen, WavLayout& layout) {
  layout.dataOffset = static_cast<std::int64_t>(fmtChunkLen) + 20;
  unsigned char w[4] = {};
  bool atEnd = in.read(w, 4) < 4;
  layout.dataOffset += 4;
  while (std::memcmp(w, "data", 4) != 0 && !atEnd) {
    unsigned char b;
    if (!in.readByte(b)) {
      atEnd = true;
      break;
    }
    ++layout.dataOffset;
    std::memmove(w, w + 1, 3);
    w[3] = b;
  }
  unsigned char sizeBytes[4];
  // A file that ends inside the size field behind "data" has no data chunk either.
  if (std::memcmp(w, "data", 4) != 0 || in.read(sizeBytes, 4) < 4) return false;
  layout.dataSize = le32(sizeBytes);
  layout.dataOffset += 4;
  layout.trailerLength = static_cast<std::int64_t>(layout.fileLength) - layout.dataOffset -
                         static_cast<std::int64_t>(layout.dataSize);
  return true;
}

// Why the program cannot process the samples of this format, or nothing.
std::string unsupportedReason(const WavFormat& f, int subFormat) {
  if (f.channels != 1 && f.channels != 2) {
    return "it has " + std::to_string(f.channels) +
           " channels; only mono and stereo files are supported.";
  }
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) {
    return "it has " + std::to_string(f.bitsPerSample) +
           "-bit samples; only 8-bit and 16-bit samples are supported.";
  }
  if (f.formatTag != 1 && !(f.formatTag == -2 && (subFormat == -1 || subFormat == 1))) {
    return "its samples are not PCM (format tag " + std::to_string(f.formatTag) +
           (subFormat > 0 ? ", sub-format " + std::to_string(subFormat) : std::string()) + ").";
  }
  if (f.sampleRate <= 0) {
    return "its sample rate of " + std::to_string(f.sampleRate) + " Hz is not valid.";
  }
  return {};
}

// Frames the data chunk declares, rounded half to even; 0 when the format
// gives no frame size.
std::int64_t declaredFrames(const WavFormat& f, std::uint32_t dataSize) {
  if (f.channels <= 0 || f.bitsPerSample <= 0) return 0;
  double frames = static_cast<double>(dataSize) / (f.bitsPerSample / 8.0) / f.channels;
  return static_cast<std::int64_t>(std::nearbyint(frames));
}

void readAfterLength(HeaderStream& in, WavHeader& w) {
  unsigned char h[kHeaderRecordSize] = {};
  const std::size_t got = in.read(h, sizeof h);
  readFixedRecord(h, w);
  const int subFormat = skipFormatRest(in, h, got, w.findings.fmtChunkLength);
  if (!findDataChunk(in, w.findings.fmtChunkLength, w.layout)) {
    w.status = HeaderStatus::kNoDataChunk;
    return;
  }
  w.findings.dataFound = true;
  w.layout.sampleFrames = declaredFrames(w.format, w.layout.dataSize);
  w.findings.unsupportedReason = unsupportedReason(w.format, subFormat);
  if (!w.findings.unsupportedReason.empty()) {
    w.status = HeaderStatus::kUnsupported;
    return;
  }
  const std::int64_t frameBytes = w.format.frameBytes();
  const std::int64_t present = std::max<std::int64_t>(
      0, static_cast<std::int64_t>(w.layout.fileLength) - w.layout.dataOffset);
  w.layout.framesInFile =
      std::min<std::int64_t>(w.layout.dataSize / frameBytes, present / frameBytes);
  w.status = HeaderStatus::kReady;
}

}  // namespace

HeaderReading readWavHeader(std::unique_ptr<ByteSource> source, std::uint64_t fileLength) {
  HeaderReading r;
  WavHeader& w = r.header;
  w.layout.fileLength = fileLength;
  w.findings.lengthKnown = true;
  if (fileLength == 0) {
    w.status = HeaderStatus::kEmpty;
    return r;
  }
  HeaderStream in(std::move(source));
  try {
    readAfterLength(in, w);
    if (w.ready()) r.samples = in.release();
  } catch (const RunError& e) {
    w.status = HeaderStatus::kUnreadable;
    w.findings.readErrorNumber = e.number();
    w.findings.dataFound = false;
  }
  return r;
}

HeaderReading readWavFile(FileSystem& fs, const std::string& path) {
  try {
    const std::uint64_t length = fs.fileLength(path);
    std::unique_ptr<ByteSource> source;
    if (length > 0) source = fs.openRead(path);
    return readWavHeader(std::move(source), length);
  } catch (const RunError& e) {
    HeaderReading r;
    r.header.status = HeaderStatus::kUnreadable;
    r.header.findings.readErrorNumber = e.number();
    return r;
  }
}

}  // namespace ril
