#include <algorithm>
#include <cstring>

#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/repair/repair_plan.h"
#include "core/repair/repair_text.h"
#include "core/repair/riff_scan.h"

namespace ril {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kMost32 = 0xFFFFFFFF;  // also the placeholder of an unknown size
constexpr std::uint64_t kDs64Bytes = 36;       // a ds64 chunk without a table
constexpr char kGiveFormat[] = "give the format with --format RATE:CHANNELS:BITS[:float]";

Bytes littleEndian(std::uint64_t value, int width) {
  Bytes out;
  for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return out;
}

std::uint64_t valueOf(const Bytes& bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) v = v << 8 | bytes[i];
  return v;
}

std::uint16_t le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// A number field of `width` bytes that becomes `value`; `old` holds what is
// there now (empty for a field of an inserted header).
FieldChange numberChange(std::string field, std::uint64_t offset, int width, std::uint64_t value,
                         Bytes old) {
  FieldChange c;
  c.field = std::move(field);
  c.offset = offset;
  c.bytes = littleEndian(value, width);
  if (!old.empty()) c.before = valueOf(old);
  c.oldBytes = std::move(old);
  c.after = value;
  return c;
}

FieldChange idChange(std::string field, std::uint64_t offset, const char* id, Bytes old) {
  FieldChange c;
  c.field = std::move(field);
  c.offset = offset;
  c.bytes.assign(id, id + 4);
  if (!old.empty()) c.before = std::string(old.begin(), old.end());
  c.oldBytes = std::move(old);
  c.after = std::string(id);
  return c;
}

// The fields of a format chunk, as far as a repair needs them.
struct FormatFields {
  std::uint16_t tag = 0, channels = 0, blockAlign = 0, bits = 0;
  std::uint32_t rate = 0, byteRate = 0;
  bool extension = false;  // an extensible chunk that holds its sub-format
  std::uint16_t validBits = 0, subFormat = 0;
};

FormatFields formatFields(const RiffScan& s) {
  const unsigned char* b = s.fmtBody.data();
  FormatFields f;
  f.tag = le16(b);
  f.channels = le16(b + 2);
  f.rate = readLe32(b + 4);
  f.byteRate = readLe32(b + 8);
  f.blockAlign = le16(b + 12);
  f.bits = le16(b + 14);
  f.extension = s.fmt.size >= 40 && le16(b + 16) >= 22;
  f.validBits = le16(b + 18);
  f.subFormat = le16(b + 24);
  return f;
}

bool zeroed(const FormatFields& f) {
  return f.channels == 0 && f.rate == 0 && f.byteRate == 0 && f.blockAlign == 0;
}

// The sample coding behind the tag: 1 PCM, 3 float, 6 A-law, 7 mu-law; 0 for
// a compressed one, whose frames the header does not give.
int sampleCoding(const FormatFields& f) {
  const int code = f.tag == 0xFFFE && f.extension ? f.subFormat : f.tag;
  return code == 1 || code == 3 || code == 6 || code == 7 ? code : 0;
}

// How the format chunk contradicts itself, or nothing.
std::string contradiction(const RiffScan& s, const FormatFields& f) {
  if (s.fmt.size < 16) return "it is only " + std::to_string(s.fmt.size) + " bytes long";
  if (f.channels == 0) return "it gives 0 channels";
  if (f.rate == 0) return "it gives a sample rate of 0 Hz";
  if (f.bits == 0) return "it gives 0 bits per sample";
  const int coding = sampleCoding(f);
  if (coding == 3 && f.bits != 32 && f.bits != 64) {
    return "it gives float samples of " + std::to_string(f.bits) + " bits";
  }
  if ((coding == 6 || coding == 7) && f.bits != 8) {
    return "it gives companded samples of " + std::to_string(f.bits) + " bits";
  }
  if (f.tag == 0xFFFE && f.extension && (f.bits % 8 != 0 || f.validBits > f.bits)) {
    return "it gives " + std::to_string(f.validBits) + " valid bits in samples of " +
           std::to_string(f.bits);
  }
  return {};
}

// What is missing of audio declared but not there: seconds, or bytes when
// that is less than a millisecond.
std::string missingText(std::uint64_t bytes, std::uint64_t bytesPerSecond) {
  const double seconds = static_cast<double>(bytes) / static_cast<double>(bytesPerSecond);
  if (seconds < 0.0005) {
    return std::to_string(bytes) + (bytes == 1 ? " byte is" : " bytes are");
  }
  return formatNumber(seconds, "0.000") + (seconds == 1.0 ? " second is" : " seconds are");
}

class Planner {
 public:
  Planner(ByteSource& source, std::uint64_t position, RiffScan scan, const RepairOptions& options)
      : source_(source), position_(position), s_(std::move(scan)) {
    plan_.options = options;
    plan_.fileLength = s_.fileLength;
  }

  RepairPlan run() {
    plan_.verdict = RepairVerdict::kRepair;
    if (!checkForm() || !checkChunks()) return plan_;
    if (!s_.fmt.found || zeroed(formatFields(s_))) {
      if (!plan_.options.format) {
        return refuse("no-format-chunk", std::string("its format chunk is ") +
                                             (s_.fmt.found ? "zeroed" : "missing") + ": " +
                                             kGiveFormat + " (Rilmaton never guesses it)");
      }
      return withGivenFormat(s_.data.body(), declaredDataSize());
    }
    const FormatFields f = formatFields(s_);
    if (const std::string why = contradiction(s_, f); !why.empty()) {
      return refuse("format-contradiction", "its format chunk contradicts itself: " + why);
    }
    if (plan_.options.format) {
      plan_.notes.push_back("The file's own format chunk is kept; --format is not used.");
    }
    if (sampleCoding(f) == 0) return compressed(f);
    frameBytes_ = std::uint64_t{f.channels} * ((f.bits + 7u) / 8u);
    if (!decideDataSize(f) || !checkFormatFields(f)) return plan_;
    if (s_.form == RiffForm::kRiff && s_.fileLength - 8 > kMost32) {
      toRf64();
    } else {
      sizeChanges();
    }
    return plan_.verdict == RepairVerdict::kRefused ? plan_ : finish();
  }

 private:
  RepairPlan& refuse(const char* code, std::string why) {
    plan_.verdict = RepairVerdict::kRefused;
    plan_.refusal = std::move(why);
    plan_.refusalCode = code;
    plan_.changes.clear();
    plan_.notes.clear();
    plan_.header.clear();
    plan_.sourceOffset = 0;
    plan_.insertion.clear();
    plan_.finding.clear();
    return plan_;
  }

  RepairPlan& finish() {
    if (plan_.changes.empty()) {
      plan_.verdict = RepairVerdict::kNothingToRepair;
      plan_.notes.clear();
      plan_.finding.clear();
    }
    return plan_;
  }

  // Files that are no little-endian RIFF WAVE file; a headerless one takes
  // the given format.
  bool checkForm() {
    switch (s_.form) {
      case RiffForm::kRiff:
      case RiffForm::kRf64:
        return true;
      case RiffForm::kBigEndian:
        refuse(
            "big-endian",
            "it is a big-endian (RIFX) file; only little-endian RIFF and RF64 files are repaired");
        return false;
      case RiffForm::kOtherRiff:
        refuse("not-wav", "it is a RIFF file of form " + s_.formText + ", not a WAV file");
        return false;
      case RiffForm::kHeaderless:
        break;
    }
    if (s_.fileLength == 0) {
      refuse("empty", "the file is empty");
    } else if (!plan_.options.format) {
      refuse("no-header", std::string("it has no RIFF header, so no data chunk; ") + kGiveFormat +
                              " to write a header in front of its bytes");
    } else {
      withGivenFormat(0, std::nullopt);
    }
    return false;
  }

  bool checkChunks() {
    if (!s_.data.found) {
      refuse("no-data-chunk",
             "it has no data chunk" + (s_.broken.empty() ? std::string() : ": " + s_.broken));
      return false;
    }
    if (s_.form == RiffForm::kRf64 && !(s_.ds64.found && s_.ds64.size >= 24)) {
      refuse("no-ds64-chunk", "it is an RF64 file without a ds64 chunk first that holds its sizes");
      return false;
    }
    if (s_.form == RiffForm::kRf64 && s_.ds64Chunks > 1) {
      refuse("several-ds64-chunks",
             "it has " + std::to_string(s_.ds64Chunks) +
                 " ds64 chunks, so which of them holds its sizes is not known");
      return false;
    }
    return true;
  }

  // The data size as readers take it: an RF64 file's from its ds64 chunk.
  std::uint64_t declaredDataSize() const {
    if (s_.form == RiffForm::kRf64 && s_.data.size == kMost32) return s_.ds64DataSize;
    return s_.data.size;
  }

  std::uint64_t available(std::uint64_t dataStart) const {
    return s_.fileLength > dataStart ? s_.fileLength - dataStart : 0;
  }

  // The data runs to the end of the file, or up to the trailing chunks:
  // whole frames, a partial last frame left behind as trailing bytes.
  // Returns the bytes before the trailing chunks (or the end); nothing when
  // refused, because chunks behind the audio do not end at the end.
  std::optional<std::uint64_t> runToEnd(std::uint64_t dataStart) {
    const TrailingChain chain = findTrailingChain(source_, position_, s_, dataStart, frameBytes_);
    position_ = s_.fileLength;
    if (chain.ids.empty() && chain.loose) {
      const bool past = chain.looseEnd > s_.fileLength;
      refuse("audio-end-unknown", "the chunks after its audio ('" + chain.looseId + "' at offset " +
                                      groupedNumber(chain.looseStart) + ") end " +
                                      groupedNumber(past ? chain.looseEnd - s_.fileLength
                                                         : s_.fileLength - chain.looseEnd) +
                                      (past ? " bytes past" : " bytes before") +
                                      " the end of the file, so where its audio ends is not known");
      return std::nullopt;
    }
    const std::uint64_t region = chain.start - dataStart;
    if (!chain.ids.empty()) {
      newDataSize_ = region % frameBytes_ == 0 ? region : region - 1;  // behind a pad byte
      std::string ids;
      for (const std::string& id : chain.ids) ids += (ids.empty() ? "'" : ", '") + id + "'";
      plan_.notes.push_back("The chunks after the audio stay as they are: " + ids + ".");
      return region;
    }
    const std::uint64_t partial = region % frameBytes_;
    newDataSize_ = region - partial;
    if (partial > 0) {
      plan_.notes.push_back("The last " + std::to_string(partial) +
                            (partial == 1 ? " byte is" : " bytes are") + " less than a frame of " +
                            std::to_string(frameBytes_) +
                            " bytes: they stay after the data as trailing bytes.");
    }
    return region;
  }

  // Decides the data size the repaired file declares; false when refused.
  bool decideDataSize(const FormatFields& f) {
    const std::uint64_t start = s_.data.body();
    const std::uint64_t declared = declaredDataSize();
    const std::uint64_t avail = available(start);
    newDataSize_ = declared;
    sizeBasis_ = declared;
    if (s_.form == RiffForm::kRiff && s_.fileLength - 8 > kMost32) {
      const std::optional<std::uint64_t> region = runToEnd(start);
      if (!region) return false;
      sizeBasis_ = *region;
      const bool wrapped = declared == 0 || declared == kMost32 ||
                           declared == (sizeBasis_ & kMost32) ||
                           declared == (newDataSize_ & kMost32);
      if (!wrapped) {
        refuse("data-size-unexplained",
               "its data chunk declares " + groupedNumber(declared) +
                   " bytes, which is neither what follows it nor what is left of that where a "
                   "32-bit size wrapped");
        return false;
      }
      return true;
    }
    if (!((declared == 0 && avail > 0) || declared > avail)) return true;
    const std::optional<std::uint64_t> region = runToEnd(start);
    if (!region) return false;
    sizeBasis_ = *region;
    if (newDataSize_ == declared) return true;
    const bool placeholder = declared == 0 || declared == kMost32 || declared == UINT64_MAX;
    std::string finding = "The data chunk declares " + groupedNumber(declared) + " bytes, but " +
                          (declared > newDataSize_ ? "only " : "") + groupedNumber(newDataSize_) +
                          " bytes of audio follow it";
    if (!placeholder && declared > newDataSize_) {
      const std::string missing = missingText(declared - newDataSize_, frameBytes_ * f.rate);
      finding += " (" + missing + " missing)";
      plan_.notes.push_back("The file is cut short: " + missing + " missing.");
    }
    plan_.finding = finding;
    return true;
  }

  // blockAlign and byteRate set from channels and bits, where the data is a
  // whole number of such frames; false when refused.
  bool checkFormatFields(const FormatFields& f) {
    const std::uint64_t byteRate = frameBytes_ * f.rate;
    const bool alignWrong = f.blockAlign != frameBytes_;
    const bool rateWrong = f.byteRate != byteRate;
    if (!alignWrong && !rateWrong) return true;
    if (frameBytes_ > 0xFFFF || byteRate > kMost32) {
      refuse("format-contradiction",
             "its format chunk contradicts itself: " + std::to_string(f.channels) +
                 " channels of " + std::to_string(f.bits) + " bits do not fit its fields");
      return false;
    }
    if (alignWrong && sizeBasis_ % frameBytes_ != 0) {
      refuse("format-contradiction",
             "its format chunk contradicts itself: blockAlign " + std::to_string(f.blockAlign) +
                 " is not " + std::to_string(f.channels) + " channels of " +
                 std::to_string(f.bits) + " bits, and the data (" + groupedNumber(sizeBasis_) +
                 " bytes) is not a whole number of " + std::to_string(frameBytes_) +
                 "-byte frames");
      return false;
    }
    const std::uint64_t body = s_.fmt.body();
    const unsigned char* b = s_.fmtBody.data();
    if (alignWrong) {
      formatChanges_.push_back(
          numberChange("blockAlign", body + 12, 2, frameBytes_, Bytes(b + 12, b + 14)));
    }
    if (rateWrong) {
      formatChanges_.push_back(
          numberChange("byteRate", body + 8, 4, byteRate, Bytes(b + 8, b + 12)));
    }
    if (plan_.finding.empty()) {
      plan_.finding = "The format chunk's " +
                      std::string(alignWrong && rateWrong ? "blockAlign and byteRate disagree"
                                  : alignWrong            ? "blockAlign disagrees"
                                                          : "byteRate disagrees") +
                      " with " + std::to_string(f.channels) + " channels of " +
                      std::to_string(f.bits) + " bits at " + groupedNumber(f.rate) + " Hz";
    }
    return true;
  }

  // The changes of a file that stays as it is laid out: the data size, the
  // format fields, the RIFF size last.
  void sizeChanges() {
    const std::uint64_t length = s_.fileLength;
    std::vector<FieldChange>& out = plan_.changes;
    if (s_.form == RiffForm::kRf64) {
      rf64SizeChanges();
    } else if (newDataSize_ != s_.data.size) {
      dataSizeChange(newDataSize_);
    }
    if (plan_.verdict == RepairVerdict::kRefused) return;
    out.insert(out.end(), formatChanges_.begin(), formatChanges_.end());
    if (s_.form == RiffForm::kRf64) {
      if (s_.ds64RiffSize != length - 8) {
        out.push_back(numberChange("ds64 RIFF size", s_.ds64.body(), 8, length - 8,
                                   littleEndian(s_.ds64RiffSize, 8)));
      }
      if (s_.riffSize != kMost32 && s_.riffSize != length - 8) {
        out.push_back(numberChange("RIFF size", 4, 4, kMost32, littleEndian(s_.riffSize, 4)));
      }
    } else if (s_.riffSize != length - 8) {
      out.push_back(numberChange("RIFF size", 4, 4, length - 8, littleEndian(s_.riffSize, 4)));
    }
    if (plan_.finding.empty() && !out.empty()) {
      const bool ds64 = s_.form == RiffForm::kRf64;
      plan_.finding = std::string(ds64 ? "The ds64 chunk" : "The RIFF header") + " declares " +
                      groupedNumber(ds64 ? s_.ds64RiffSize : s_.riffSize) +
                      " bytes after the first 8, but the file holds " + groupedNumber(length - 8);
    }
  }

  // Writes `size` into the data chunk's own size field, or refuses the
  // repair where that would hide the chunk. Behind a missing pad
  // byte, "ata" and the size's first byte read as a chunk's identifier to
  // readers that expect the pad: a printable byte there would make them walk
  // on into the audio.
  void dataSizeChange(std::uint64_t size) {
    const auto first = static_cast<unsigned char>(size & 0xFF);
    if (s_.dataBehindOddChunk && first >= 0x20 && first < 0x7F) {
      refuse("missing-pad-byte",
             "its data chunk follows a chunk of odd size without the pad byte, and readers "
             "that expect one would take the repaired size for another chunk");
      return;
    }
    plan_.changes.push_back(
        numberChange("data size", s_.data.offset + 4, 4, size, littleEndian(s_.data.size, 4)));
  }

  // An RF64 file's data size lives in its ds64 chunk (and its sample count
  // with it) unless the data chunk's own field holds it.
  void rf64SizeChanges() {
    const std::uint64_t body = s_.ds64.body();
    if (newDataSize_ == declaredDataSize()) return;
    if (s_.data.size != kMost32 && newDataSize_ < kMost32) {
      dataSizeChange(newDataSize_);
      return;
    }
    plan_.changes.push_back(numberChange("ds64 data size", body + 8, 8, newDataSize_,
                                         littleEndian(s_.ds64DataSize, 8)));
    const std::uint64_t frames = newDataSize_ / frameBytes_;
    if (s_.ds64SampleCount != frames) {
      plan_.changes.push_back(numberChange("ds64 sample count", body + 16, 8, frames,
                                           littleEndian(s_.ds64SampleCount, 8)));
    }
    if (s_.data.size != kMost32) {
      plan_.changes.push_back(
          numberChange("data size", s_.data.offset + 4, 4, kMost32, littleEndian(s_.data.size, 4)));
    }
  }

  // A RIFF file past 4 GiB becomes an RF64 file: its sizes go into a ds64
  // chunk, in place of a JUNK chunk at offset 12 that can hold one, or
  // inserted there.
  void toRf64() {
    const std::uint64_t length = s_.fileLength;
    const std::uint64_t frames = newDataSize_ / frameBytes_;
    const bool inJunk = s_.firstJunk.found && s_.firstJunk.size >= 28;
    const std::uint64_t shift = inJunk ? 0 : kDs64Bytes;
    const std::uint64_t body = inJunk ? s_.firstJunk.body() : 20;
    const auto junk = [&](int from, int count) {
      return inJunk ? Bytes(s_.junkBody.begin() + from, s_.junkBody.begin() + from + count)
                    : Bytes();
    };
    std::vector<FieldChange>& out = plan_.changes;
    out.push_back(numberChange("ds64 RIFF size", body, 8, length + shift - 8, junk(0, 8)));
    out.push_back(numberChange("ds64 data size", body + 8, 8, newDataSize_, junk(8, 8)));
    out.push_back(numberChange("ds64 sample count", body + 16, 8, frames, junk(16, 8)));
    out.push_back(numberChange("ds64 table length", body + 24, 4, 0, junk(24, 4)));
    out.push_back(
        idChange("chunk identifier", 12, "ds64", inJunk ? Bytes{'J', 'U', 'N', 'K'} : Bytes()));
    if (!inJunk) out.push_back(numberChange("chunk size", 16, 4, 28, {}));
    for (FieldChange c : formatChanges_) {
      c.offset += shift;
      out.push_back(std::move(c));
    }
    out.push_back(numberChange("data size", s_.data.offset + 4 + shift, 4, kMost32,
                               littleEndian(s_.data.size, 4)));
    out.push_back(numberChange("RIFF size", 4, 4, kMost32, littleEndian(s_.riffSize, 4)));
    out.push_back(idChange("RIFF identifier", 0, "RF64", Bytes{'R', 'I', 'F', 'F'}));
    if (inJunk) {
      plan_.notes.push_back(
          "It becomes an RF64 file: its 64-bit sizes go into a ds64 chunk in place of the JUNK "
          "chunk at offset 12.");
    } else {
      plan_.insertion =
          "its 64-bit sizes need a ds64 chunk of 36 bytes after the RIFF header, and no JUNK "
          "chunk of 28 bytes or more reserves that room";
      plan_.notes.push_back(
          "It becomes an RF64 file: a ds64 chunk of 36 bytes with its 64-bit sizes is "
          "inserted at offset 12, so the file is written anew.");
      plan_.sourceOffset = 12;
      plan_.header = {'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A',
                      'V', 'E', 'd', 's', '6',  '4',  28,   0,    0,   0};
      plan_.header.resize(12 + kDs64Bytes);
      for (const FieldChange& c : out) {
        if (c.offset < plan_.header.size()) {
          std::copy(c.bytes.begin(), c.bytes.end(), plan_.header.begin() + c.offset);
        }
      }
    }
    plan_.finding = "The file is " + groupedNumber(length) +
                    " bytes long, more than the 32-bit sizes of a RIFF file can hold";
  }

  // A compressed format's frames are not known: only its RIFF size can be
  // set right, and only when its data size tells no lie.
  RepairPlan& compressed(const FormatFields& f) {
    const std::uint64_t declared = declaredDataSize();
    const std::uint64_t avail = available(s_.data.body());
    const bool big = s_.form == RiffForm::kRiff && s_.fileLength - 8 > kMost32;
    if (big || (declared == 0 && avail > 0) || declared > avail) {
      return refuse("coded-samples",
                    "its samples are coded (format tag " + std::to_string(f.tag) +
                        "), so where their frames end cannot be told from the header");
    }
    newDataSize_ = declared;
    sizeChanges();
    return plan_.verdict == RepairVerdict::kRefused ? plan_ : finish();
  }

  RepairPlan& withGivenFormat(std::uint64_t start, std::optional<std::uint64_t> declared);

  ByteSource& source_;
  std::uint64_t position_;
  RiffScan s_;
  RepairPlan plan_;
  std::uint64_t frameBytes_ = 1;
  std::uint64_t newDataSize_ = 0;
  // The data the format fields are checked against: the declared size, or
  // the bytes up to the trailing chunks or the end where the data runs there.
  std::uint64_t sizeBasis_ = 0;
  std::vector<FieldChange> formatChanges_;
};

// The fields of a canonical header for `format` in front of `dataSize`
// bytes of audio in a file of `length` bytes after it: RIFF, or RF64 when the
// sizes need 64 bits.
std::vector<FieldChange> canonicalHeader(const GivenFormat& format, std::uint64_t dataSize,
                                         std::uint64_t rest, Bytes& header) {
  const std::uint64_t frame = std::uint64_t{format.channels} * ((format.bitsPerSample + 7u) / 8u);
  const bool rf64 = 44 + rest - 8 > kMost32;
  const std::uint64_t fmtAt = rf64 ? 48 : 12;
  const std::uint64_t length = fmtAt + 32 + rest;
  header.clear();
  const auto put = [&](const Bytes& bytes) {
    for (unsigned char b : bytes) header.push_back(b);
  };
  const auto id = [&](const char* text) {
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<unsigned char>(text[i]));
  };
  id(rf64 ? "RF64" : "RIFF");
  put(littleEndian(rf64 ? kMost32 : length - 8, 4));
  id("WAVE");
  std::vector<FieldChange> fields;
  fields.push_back(numberChange("RIFF size", 4, 4, rf64 ? kMost32 : length - 8, {}));
  if (rf64) {
    id("ds64");
    put(littleEndian(28, 4));
    put(littleEndian(length - 8, 8));
    put(littleEndian(dataSize, 8));
    put(littleEndian(dataSize / frame, 8));
    put(littleEndian(0, 4));
    fields.push_back(numberChange("ds64 RIFF size", 20, 8, length - 8, {}));
    fields.push_back(numberChange("ds64 data size", 28, 8, dataSize, {}));
    fields.push_back(numberChange("ds64 sample count", 36, 8, dataSize / frame, {}));
  }
  id("fmt ");
  put(littleEndian(16, 4));
  const std::size_t body = header.size();
  put(littleEndian(format.isFloat ? 3 : 1, 2));
  put(littleEndian(format.channels, 2));
  put(littleEndian(format.sampleRate, 4));
  put(littleEndian(frame * format.sampleRate, 4));
  put(littleEndian(frame, 2));
  put(littleEndian(format.bitsPerSample, 2));
  FieldChange fmt;
  fmt.field = "format";
  fmt.offset = body;
  fmt.bytes.assign(header.begin() + static_cast<std::ptrdiff_t>(body), header.end());
  fmt.after = givenFormatText(format);
  fields.push_back(std::move(fmt));
  id("data");
  put(littleEndian(rf64 ? kMost32 : dataSize, 4));
  fields.push_back(numberChange("data size", header.size() - 4, 4, rf64 ? kMost32 : dataSize, {}));
  return fields;
}

RepairPlan& Planner::withGivenFormat(std::uint64_t start, std::optional<std::uint64_t> declared) {
  const GivenFormat& g = *plan_.options.format;
  frameBytes_ = std::uint64_t{g.channels} * ((g.bitsPerSample + 7u) / 8u);
  // A size that may have wrapped past 4 GiB is no size to keep.
  const bool wrapped = s_.form == RiffForm::kRiff && s_.fileLength - 8 > kMost32;
  const bool keep = declared && *declared != 0 && *declared < kMost32 && !wrapped &&
                    *declared <= available(start);
  if (keep) {
    newDataSize_ = *declared;
  } else if (!runToEnd(start)) {
    return plan_;
  }
  plan_.changes = canonicalHeader(g, newDataSize_, s_.fileLength - start, plan_.header);
  plan_.sourceOffset = start;
  plan_.insertion = "a new header must be written in front of the audio";
  std::string note = "A new header of " + std::to_string(plan_.header.size()) + " bytes (" +
                     givenFormatText(g) + ") is written in front of the bytes from offset " +
                     groupedNumber(start);
  if (start > 0) note += ", in place of the " + groupedNumber(start) + " bytes before them";
  plan_.notes.insert(plan_.notes.begin(), note + ".");
  plan_.finding = s_.form == RiffForm::kHeaderless ? "The file has no RIFF header"
                  : s_.fmt.found                   ? "The format chunk is zeroed"
                                                   : "The file has no format chunk";
  plan_.verdict = RepairVerdict::kRepair;
  return plan_;
}

}  // namespace

RepairPlan planRepair(ByteSource& source, std::uint64_t fileLength, const RepairOptions& options) {
  std::uint64_t position = 0;
  RiffScan scan = scanRiff(source, fileLength, position);
  return Planner(source, position, std::move(scan), options).run();
}

RepairPlan planFileRepair(FileSystem& fs, const std::string& path, const RepairOptions& options) {
  try {
    const FileKind kind = fs.identify(path).kind;
    if (kind != FileKind::kRegular && kind != FileKind::kMissing) {
      RepairPlan plan;
      plan.options = options;
      plan.verdict = RepairVerdict::kRefused;
      plan.refusal = "it is not a regular file";
      plan.refusalCode = "not-regular-file";
      return plan;
    }
    const std::uint64_t length = fs.fileLength(path);
    std::unique_ptr<InputFile> input = fs.openRead(path);
    RepairPlan plan = planRepair(*input, length, options);
    input->close();
    return plan;
  } catch (const RunError& e) {
    RepairPlan plan;
    plan.options = options;
    plan.verdict = RepairVerdict::kRefused;
    plan.refusal = "it cannot be read: " + errorCause(e.number());
    plan.refusalCode = "unreadable";
    return plan;
  }
}

RepairPlan planReportedRepair(FileSystem& fs, const std::string& path, const WavHeader& header) {
  const HeaderFindings& f = header.findings;
  const WavLayout& layout = header.layout;
  const bool sizeLies = f.dataFound && ((layout.dataSize == 0 && layout.trailerLength > 0) ||
                                        layout.trailerLength < 0 || layout.dataSize == kMost32);
  const bool formatLies = f.formatChunkFound && (f.byteRateWrong || f.blockAlignWrong);
  if (header.status == HeaderStatus::kUnreadable || header.status == HeaderStatus::kEmpty ||
      !(f.riffSizeWrong || sizeLies || formatLies || f.sizesFromDs64)) {
    return RepairPlan{};
  }
  return planFileRepair(fs, path);
}

}  // namespace ril
