#include "core/wav/wav_header_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/base/errors.h"

namespace ril {

namespace {

constexpr std::size_t kHeaderRecordSize = 36;
// An RF64 file's 32-bit size fields hold this; the real size is in its ds64 chunk.
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;

// Buffered reading on top of a ByteSource, with bytes that can be handed back
// (so a search can restart inside bytes already read), the offset reached in
// the file, and the unread rest handed on to the analysis.
class HeaderStream {
 public:
  explicit HeaderStream(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

  std::size_t read(unsigned char* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (pos_ == buf_.size() && !topUp()) break;
      std::size_t n = std::min(count - done, buf_.size() - pos_);
      std::memcpy(out + done, buf_.data() + pos_, n);
      pos_ += n;
      done += n;
    }
    offset_ += done;
    return done;
  }

  bool readByte(unsigned char& b) {
    if (pos_ == buf_.size() && !topUp()) return false;
    b = buf_[pos_++];
    ++offset_;
    return true;
  }

  // Reads on to just past the next four bytes equal to `id`; false, with
  // everything read, when the stream ends first. Scans the buffer rather
  // than byte by byte: a file that is not WAVE may be searched to its end.
  bool readPast(const char* id) {
    for (;;) {
      const std::size_t unread = buf_.size() - pos_;
      if (unread >= 4) {
        const unsigned char* from = buf_.data() + pos_;
        const unsigned char* last = from + unread - 4;  // the last place a match can begin
        for (const unsigned char* p = from; p <= last; ++p) {
          p = static_cast<const unsigned char*>(std::memchr(
              p, static_cast<unsigned char>(id[0]), static_cast<std::size_t>(last - p) + 1));
          if (!p) break;
          if (std::memcmp(p, id, 4) == 0) {
            advance(static_cast<std::size_t>(p - from) + 4);
            return true;
          }
        }
        advance(unread - 3);  // a match may still begin in the last three
      }
      if (!topUp()) {
        advance(buf_.size() - pos_);
        return false;
      }
    }
  }

  std::uint64_t skip(std::uint64_t count) {
    std::uint64_t avail = buf_.size() - pos_;
    std::uint64_t done = count;
    if (count <= avail) {
      pos_ += static_cast<std::size_t>(count);
    } else {
      pos_ = buf_.size();
      done = avail + (source_ && !ended_ ? source_->skip(count - avail) : 0);
    }
    offset_ += done;
    return done;
  }

  void pushFront(const unsigned char* bytes, std::size_t count) {
    std::vector<unsigned char> rest(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.end());
    buf_.assign(bytes, bytes + count);
    buf_.insert(buf_.end(), rest.begin(), rest.end());
    pos_ = 0;
    offset_ -= count;
  }

  // Offset in the file of the next byte to be read.
  std::uint64_t offset() const { return offset_; }
  // A RIFX file's sizes and fields are big-endian.
  bool bigEndian() const { return bigEndian_; }
  void setBigEndian(bool big) { bigEndian_ = big; }

  std::unique_ptr<ByteSource> release() {
    std::vector<unsigned char> rest(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.end());
    return std::make_unique<PrefixedSource>(std::move(rest), std::move(source_));
  }

 private:
  void advance(std::size_t count) {
    pos_ += count;
    offset_ += count;
  }

  // The source's next bytes behind the unread ones; false at its end.
  bool topUp() {
    if (!source_ || ended_) return false;
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
    const std::size_t kept = buf_.size();
    buf_.resize(kept + kRefill);
    const std::size_t n = source_->read(buf_.data() + kept, kRefill);
    buf_.resize(kept + n);
    if (n == 0) ended_ = true;
    return n > 0;
  }

  static constexpr std::size_t kRefill = 65536;
  std::unique_ptr<ByteSource> source_;
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0;
  std::uint64_t offset_ = 0;
  bool ended_ = false;
  bool bigEndian_ = false;
};

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

std::int16_t le16s(const unsigned char* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

// The same two in either byte order.
std::uint32_t u32(const unsigned char* p, bool big) {
  if (!big) return le32(p);
  return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
         static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

std::int16_t s16(const unsigned char* p, bool big) {
  if (!big) return le16s(p);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[1] | p[0] << 8));
}

bool printable(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

// Identifier bytes as text; bytes that are not printable ASCII show as "?".
std::string idText(const unsigned char* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += printable(p[i]) ? static_cast<char>(p[i]) : '?';
  return s;
}

// The format fields of a format chunk's first 16 bytes.
void readFormatFields(const unsigned char* body, WavHeader& w) {
  HeaderFindings& f = w.findings;
  WavFormat& format = w.format;
  const bool big = format.bigEndian;
  format.formatTag = s16(body, big);
  format.channels = s16(body + 2, big);
  format.sampleRate = static_cast<std::int32_t>(u32(body + 4, big));
  f.byteRate = static_cast<std::int32_t>(u32(body + 8, big));
  f.blockAlign = s16(body + 12, big);
  format.bitsPerSample = s16(body + 14, big);
  f.byteRateWrong = static_cast<std::int64_t>(f.byteRate) !=
                    static_cast<std::int64_t>(f.blockAlign) * format.sampleRate;
  f.blockAlignWrong = static_cast<std::int64_t>(f.blockAlign) * 8 !=
                      static_cast<std::int64_t>(format.channels) * format.bitsPerSample;
}

// The fixed 36-byte record at the start of the file: the RIFF header and the
// format chunk as the first chunk.
void readFixedRecord(const unsigned char* h, WavHeader& w) {
  HeaderFindings& f = w.findings;
  const auto length = static_cast<std::int64_t>(w.layout.fileLength);
  f.riffId = idText(h, 4);
  f.riffIdWrong = std::memcmp(h, "RIFF", 4) != 0;
  w.format.bigEndian = std::memcmp(h, "RIFX", 4) == 0;
  f.riffSize = u32(h + 4, w.format.bigEndian);
  f.riffSizeWrong = static_cast<std::int64_t>(f.riffSize) != length - 8;
  f.formAndFirstChunk = idText(h + 8, 8);
  f.formAndFirstChunkWrong = std::memcmp(h + 8, "WAVEfmt ", 8) != 0;
  f.waveForm = std::memcmp(h + 8, "WAVE", 4) == 0;
  f.formatChunkFound = !f.formAndFirstChunkWrong;
  f.fmtChunkLength = u32(h + 16, w.format.bigEndian);
  readFormatFields(h + 20, w);
  f.formatRead = true;
}

struct ChunkHeader {
  unsigned char id[4] = {};
  std::uint32_t size = 0;
  bool is(const char* name) const { return std::memcmp(id, name, 4) == 0; }
};

// Walks a RIFF chunk list: an identifier of four printable characters, a
// 32-bit size, the body, and a pad byte after an odd size. The walk breaks
// at an identifier that is not printable or at a size that runs past the end
// of the file (a data chunk may: a cut-off file keeps its samples). The
// bytes read since the end of the last body are then handed back, so that a
// byte-wise search starts where the last good chunk ended, pad byte or not.
class ChunkWalker {
 public:
  ChunkWalker(HeaderStream& in, std::uint64_t fileLength) : in_(in), fileLength_(fileLength) {}

  // The next chunk's header, the stream at its body; false when the walk breaks.
  bool next(ChunkHeader& c) {
    unsigned char b[9];
    std::size_t held = 0;
    if (padHeld_) b[held++] = pad_;
    padHeld_ = false;
    const std::size_t got = in_.read(b + held, 8);
    if (got == 8) {
      std::memcpy(c.id, b + held, 4);
      c.size = u32(b + held + 4, in_.bigEndian());
      const bool idGood = std::all_of(c.id, c.id + 4, printable);
      if (idGood && (in_.offset() + c.size <= fileLength_ || c.is("data"))) return true;
    }
    in_.pushFront(b, held + got);
    return false;
  }

  // Passes over the rest of a body of `size` bytes of which `used` were read.
  void skipBody(std::uint32_t size, std::uint64_t used = 0) {
    if (size > used) in_.skip(size - used);
    if (size % 2 != 0) padHeld_ = in_.readByte(pad_);
  }

 private:
  HeaderStream& in_;
  std::uint64_t fileLength_;
  bool padHeld_ = false;
  unsigned char pad_ = 0;
};

// What a format chunk holds beyond its 16 PCM bytes.
struct FormatExtension {
  bool present = false;    // cbSize of at least 22, and the chunk holds those bytes
  int subFormat = -1;      // the first two bytes of the sub-format GUID
  bool knownGuid = false;  // the rest of the GUID is that of every WAVE format code
  std::int16_t validBits = 0;
};

// The rest of the sub-format GUID that every WAVE format code shares.
constexpr unsigned char kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The sub-format GUID's format code. A RIFX file may hold the GUID with its
// first three fields big-endian, or as a little-endian file does.
void readSubFormat(const unsigned char* guid, bool big, FormatExtension& ext) {
  if (std::memcmp(guid + 2, kGuidTail, 14) == 0) {
    // SoX writes the code in the file's byte order and the rest as ever.
    const int little = guid[0] | guid[1] << 8;
    const int swapped = guid[1] | guid[0] << 8;
    ext.subFormat = big && little > 0xFF && swapped <= 0xFF ? swapped : little;
    ext.knownGuid = true;
    return;
  }
  // 00 00 ab cd (first field), 00 00, 00 10, and the last eight bytes as ever.
  static constexpr unsigned char kSwappedMiddle[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10};
  ext.subFormat = big ? (guid[3] | guid[2] << 8) : (guid[0] | guid[1] << 8);
  ext.knownGuid = big && std::memcmp(guid, kSwappedMiddle, 2) == 0 &&
                  std::memcmp(guid + 4, kSwappedMiddle, 4) == 0 &&
                  std::memcmp(guid + 8, kGuidTail + 6, 8) == 0;
}

// Reads a format chunk's body of `length` bytes from its first byte: the
// format fields and the extension. A body shorter than 16 bytes still gives
// 16 bytes of fields, as the fixed record does, and the walk goes on from
// where the body ends.
FormatExtension readFormatBody(HeaderStream& in, ChunkWalker& walker, std::uint32_t length,
                               WavHeader& w) {
  unsigned char body[16] = {};
  const std::size_t got = in.read(body, sizeof body);
  readFormatFields(body, w);
  w.findings.fmtChunkLength = length;
  FormatExtension ext;
  if (length < sizeof body) {
    if (length < got) in.pushFront(body + length, got - length);
    walker.skipBody(length, length);
    return ext;
  }
  // cbSize, valid bits, channel mask, sub-format GUID.
  unsigned char more[24] = {};
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length - 16, 24));
  const std::size_t extGot = in.read(more, want);
  const bool big = w.format.bigEndian;
  if (extGot == sizeof more && s16(more, big) >= 22) {
    ext.present = true;
    ext.validBits = s16(more + 2, big);
    readSubFormat(more + 8, big, ext);
    w.format.channelMask = u32(more + 4, big);
  }
  w.findings.extensiblePcm = w.format.formatTag == -2 && ext.knownGuid && ext.subFormat == 1;
  walker.skipBody(length, 16 + extGot);
  return ext;
}

// The data size of an RF64 file, from the ds64 chunk's body.
std::optional<std::uint64_t> readDs64(HeaderStream& in, ChunkWalker& walker, std::uint32_t size) {
  unsigned char body[24] = {};  // RIFF size, data size, sample count
  const std::size_t got = in.read(body, std::min<std::size_t>(size, sizeof body));
  walker.skipBody(size, got);
  if (got < 16) return std::nullopt;
  return le64(body + 8);
}

// Walks from offset 12 to the format chunk and reads it, noting an RF64
// file's ds64 chunk on the way. Leaves the format alone when the walk ends
// or breaks first.
void findFormatChunk(HeaderStream& in, ChunkWalker& walker, WavHeader& w, FormatExtension& ext,
                     std::optional<std::uint64_t>& ds64DataSize) {
  ChunkHeader c;
  while (walker.next(c)) {
    if (c.is("fmt ")) {
      ext = readFormatBody(in, walker, c.size, w);
      w.findings.formatChunkFound = true;
      return;
    }
    if (c.is("ds64")) {
      ds64DataSize = readDs64(in, walker, c.size);
    } else {
      walker.skipBody(c.size);
    }
  }
}

// Search from the stream's position for the data chunk's identifier and
// its size field behind it; false when the file ends first.
bool searchDataChunk(HeaderStream& in, std::uint32_t& size) {
  unsigned char sizeBytes[4];
  // A file that ends inside the size field behind "data" has no data chunk either.
  if (!in.readPast("data") || in.read(sizeBytes, 4) < 4) return false;
  size = u32(sizeBytes, in.bigEndian());
  return true;
}

// Finds the data chunk from the stream's position: by walking the chunks,
// and where the walk breaks by the byte-wise search from there. Leaves the
// stream at the first sample byte and sets the layout's data fields.
bool findDataChunk(HeaderStream& in, ChunkWalker& walker, std::optional<std::uint64_t> ds64Size,
                   WavHeader& w) {
  ChunkHeader c;
  bool found = false;
  while (!found && walker.next(c)) {
    found = c.is("data");
    if (!found) walker.skipBody(c.size);
  }
  if (!found && !searchDataChunk(in, c.size)) return false;
  WavLayout& layout = w.layout;
  layout.dataSize = c.size;
  if (c.size == kSizeInDs64 && ds64Size) {
    // Beyond any real file, so that the sums below stay in range.
    layout.dataSize = std::min<std::uint64_t>(*ds64Size, std::uint64_t{1} << 62);
    w.findings.sizesFromDs64 = true;
  }
  layout.dataOffset = static_cast<std::int64_t>(in.offset());
  layout.trailerLength = static_cast<std::int64_t>(layout.fileLength) - layout.dataOffset -
                         static_cast<std::int64_t>(layout.dataSize);
  return true;
}

// What a file that is not WAVE looks like, from its first bytes, where that
// is plain; empty otherwise.
std::string lookalike(const unsigned char* h, std::size_t got) {
  const auto startsWith = [&](const char* magic, std::size_t at = 0) {
    const std::size_t n = std::strlen(magic);
    return got >= at + n && std::memcmp(h + at, magic, n) == 0;
  };
  if (startsWith("FORM") && (startsWith("AIFF", 8) || startsWith("AIFC", 8))) {
    return "an AIFF file";
  }
  if (startsWith("fLaC")) return "a FLAC file";
  // An ID3 tag, or an MPEG audio frame's sync word with layer III.
  if (startsWith("ID3") || (got >= 2 && h[0] == 0xFF && (h[1] & 0xE6) == 0xE2)) {
    return "an MP3 file";
  }
  if (startsWith("OggS")) return "an Ogg file";
  if ((startsWith("RIFF") || startsWith("RIFX") || startsWith("RF64")) && got >= 12) {
    return "a RIFF file of form '" + idText(h + 8, 4) + "'";
  }
  return {};
}

// Why the file's layout leaves its samples unknown, or nothing.
std::string layoutReason(const HeaderFindings& f) {
  if (!f.waveForm) {
    return f.lookalike.empty()
               ? "it is not a WAV file: it does not begin with a RIFF, RF64 or RIFX header of "
                 "form WAVE."
               : "it is not a WAV file but " + f.lookalike + ".";
  }
  if (!f.formatChunkFound) return "it has no format chunk, so its sample format is unknown.";
  return {};
}

// The name of a format code the program does not decode.
std::string codeName(int code) {
  switch (code) {
    case 0x0002:
      return "Microsoft ADPCM";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0031:
      return "GSM 6.10";
    case 0x0050:
      return "MPEG";
    case 0x0055:
      return "MPEG Layer 3";
    case 0x0092:
      return "Dolby AC-3";
    case 0x00FF:
    case 0x1610:
      return "AAC";
    case 0xF1AC:
      return "FLAC";
    default:
      return "an unknown format";
  }
}

// The encoding of a format code the program reads.
std::optional<SampleEncoding> encodingOf(int code) {
  switch (code) {
    case 1:
      return SampleEncoding::kPcm;
    case 3:
      return SampleEncoding::kFloat;
    case 6:
      return SampleEncoding::kAlaw;
    case 7:
      return SampleEncoding::kMulaw;
    default:
      return std::nullopt;
  }
}

// Whether the encoding comes in containers of these bits.
bool bitsFit(SampleEncoding e, int bits) {
  switch (e) {
    case SampleEncoding::kPcm:
      return bits >= 1 && bits <= 32;
    case SampleEncoding::kFloat:
      return bits == 32 || bits == 64;
    case SampleEncoding::kAlaw:
    case SampleEncoding::kMulaw:
      return bits == 8;
  }
  return false;
}

const char* encodingWords(SampleEncoding e) {
  switch (e) {
    case SampleEncoding::kFloat:
      return "float";
    case SampleEncoding::kAlaw:
      return "A-law";
    case SampleEncoding::kMulaw:
      return "\u00b5-law";
    case SampleEncoding::kPcm:
      break;
  }
  return "PCM";
}

// Sets the format's encoding and valid bits from its tag and extension;
// returns why the program cannot process its samples, or nothing.
std::string formatReason(WavFormat& f, const FormatExtension& ext) {
  if (f.channels < 1 || f.channels > 64) {
    return "it has " + std::to_string(f.channels) + " channels; from 1 to 64 are supported.";
  }
  if (f.formatTag == -2 && !ext.present) {
    return "its format is extensible (tag -2), but the format chunk lacks the extension that "
           "names the sample format.";
  }
  const int code = f.formatTag == -2 ? ext.subFormat : static_cast<std::uint16_t>(f.formatTag);
  const std::optional<SampleEncoding> encoding =
      f.formatTag == -2 && !ext.knownGuid ? std::nullopt : encodingOf(code);
  if (!encoding) {
    const std::string what = f.formatTag == -2 && !ext.knownGuid
                                 ? "an unknown sub-format"
                                 : codeName(code) + " (" +
                                       (f.formatTag == -2 ? "sub-format " : "format tag ") +
                                       std::to_string(code) + ")";
    return "its samples are compressed or of a kind it cannot decode: " + what +
           "; PCM, float, A-law and \u00b5-law samples are supported.";
  }
  f.encoding = *encoding;
  if (!bitsFit(f.encoding, f.bitsPerSample)) {
    return "it has " + std::to_string(f.bitsPerSample) + "-bit " + encodingWords(f.encoding) +
           " samples, which are not supported.";
  }
  // Valid bits stay 0 (the whole container) unless fewer are named.
  const int container = 8 * f.containerBytes();
  if (f.bitsPerSample < container) f.validBits = f.bitsPerSample;
  if (f.formatTag == -2 && ext.validBits > 0 && ext.validBits < f.bitsPerSample &&
      f.encoding == SampleEncoding::kPcm) {
    f.validBits = ext.validBits;
  }
  if (f.sampleRate <= 0) {
    return "its sample rate of " + std::to_string(f.sampleRate) + " Hz is not valid.";
  }
  return {};
}

// Frames the data chunk declares, rounded half to even; 0 when the format
// gives no frame size.
std::int64_t declaredFrames(const WavFormat& f, std::uint64_t dataSize) {
  if (f.channels <= 0 || f.bitsPerSample <= 0) return 0;
  // Whole bytes per sample for formats read; the plain quotient for others.
  const double bytes = f.bitsPerSample % 8 == 0 || f.bitsPerSample > 64
                           ? f.bitsPerSample / 8.0
                           : static_cast<double>(f.containerBytes());
  double frames = static_cast<double>(dataSize) / bytes / f.channels;
  return static_cast<std::int64_t>(std::nearbyint(std::min(frames, 0x1p62)));
}

void readAfterLength(HeaderStream& in, WavHeader& w) {
  unsigned char h[kHeaderRecordSize] = {};
  const std::size_t got = in.read(h, sizeof h);
  readFixedRecord(h, w);
  in.setBigEndian(w.format.bigEndian);
  HeaderFindings& f = w.findings;
  if (!f.waveForm) f.lookalike = lookalike(h, got);
  ChunkWalker walker(in, w.layout.fileLength);
  FormatExtension ext;
  std::optional<std::uint64_t> ds64Size;
  const auto handBack = [&](std::size_t from) {
    if (from < got) in.pushFront(h + from, got - from);
  };
  if (f.waveForm && f.formAndFirstChunkWrong) {
    // Other chunks (JUNK, bext, LIST, an RF64 file's ds64) before the format chunk.
    handBack(12);
    const bool rf64 = f.riffId == "RF64" || f.riffId == "BW64";
    // Without a format chunk the fields stay those of the fixed record.
    findFormatChunk(in, walker, w, ext, ds64Size);
    if (!rf64) ds64Size.reset();
  } else {
    // The format chunk at offset 12; in a file that is not WAVE at all the
    // bytes there are taken as one all the same.
    handBack(20);
    ext = readFormatBody(in, walker, f.fmtChunkLength, w);
  }
  if (!findDataChunk(in, walker, ds64Size, w)) {
    w.status = HeaderStatus::kNoDataChunk;
    f.unsupportedReason = layoutReason(f);
    return;
  }
  f.dataFound = true;
  w.layout.sampleFrames = declaredFrames(w.format, w.layout.dataSize);
  f.unsupportedReason = layoutReason(f);
  if (f.unsupportedReason.empty()) f.unsupportedReason = formatReason(w.format, ext);
  if (!f.unsupportedReason.empty()) {
    w.status = HeaderStatus::kUnsupported;
    return;
  }
  const std::int64_t frameBytes = w.format.frameBytes();
  const std::int64_t present = std::max<std::int64_t>(
      0, static_cast<std::int64_t>(w.layout.fileLength) - w.layout.dataOffset);
  w.layout.framesInFile = std::min<std::int64_t>(
      static_cast<std::int64_t>(w.layout.dataSize) / frameBytes, present / frameBytes);
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
    // A pipe or socket has no length to measure and can be read only once:
    // said as such, not taken for an empty file, and never opened.
    const FileKind kind = length == 0 ? fs.identify(path).kind : FileKind::kRegular;
    if (kind == FileKind::kFifo || kind == FileKind::kOther) {
      HeaderReading r;
      r.header.status = HeaderStatus::kUnreadable;
      r.header.findings.readErrorNumber = kErrPathFileAccess;
      r.header.findings.readErrorDetail =
          std::string(kind == FileKind::kFifo ? "it is a pipe" : "it is a socket") +
          ", not a file; save what comes through it to a file first";
      return r;
    }
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
