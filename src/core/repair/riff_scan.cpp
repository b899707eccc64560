#include "core/repair/riff_scan.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace ril {

namespace {

// A walk through this many chunks before the audio is no header.
constexpr int kMostChunks = 1 << 16;
// How far the data chunk is searched for where the chunk list breaks.
constexpr std::size_t kSearched = std::size_t{1} << 20;

// Reads forward only, from wherever it is asked, skipping what lies between;
// the bytes of the last small read can be asked for again.
class ForwardReader {
 public:
  ForwardReader(ByteSource& source, std::uint64_t position) : source_(source), pos_(position) {}

  // Up to `count` bytes at `offset`; fewer at the end of the file, and none
  // of those that lie behind what was read already (and not held).
  std::size_t readAt(std::uint64_t offset, unsigned char* out, std::size_t count) {
    std::size_t done = 0;
    if (offset >= lastAt_ && offset < lastAt_ + last_.size()) {
      done =
          static_cast<std::size_t>(std::min<std::uint64_t>(count, lastAt_ + last_.size() - offset));
      std::memcpy(out, last_.data() + (offset - lastAt_), done);
      offset += done;
    }
    if (done == count || offset < pos_) return done;
    if (offset > pos_) pos_ += source_.skip(offset - pos_);
    if (pos_ != offset) return done;
    const std::size_t got = source_.read(out + done, count - done);
    if (count - done <= kHeld) {
      last_.assign(out + done, out + done + got);
      lastAt_ = pos_;
    }
    pos_ += got;
    return done + got;
  }
  std::uint64_t position() const { return pos_; }

 private:
  static constexpr std::size_t kHeld = 131072;
  ByteSource& source_;
  std::uint64_t pos_;
  std::vector<unsigned char> last_;
  std::uint64_t lastAt_ = 0;
};

bool printable(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

bool printableId(const unsigned char* p) {
  return printable(p[0]) && printable(p[1]) && printable(p[2]) && printable(p[3]);
}

bool isId(const unsigned char* p, const char* id) {
  return std::memcmp(p, id, 4) == 0;
}

std::string idText(const unsigned char* p) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += printable(p[i]) ? static_cast<char>(p[i]) : '?';
  return s;
}

// The chunks that may follow the audio.
bool knownId(const unsigned char* p) {
  static const char* const kKnown[] = {"LIST", "cue ", "id3 ", "ID3 ", "iXML", "bext", "axml",
                                       "smpl", "inst", "fact", "JUNK", "PAD ", "_PMX", "cart",
                                       "umid", "acid", "labl", "note", "ltxt", "plst"};
  return std::any_of(std::begin(kKnown), std::end(kKnown),
                     [&](const char* known) { return std::memcmp(p, known, 4) == 0; });
}

// Walks the chunks from offset 12 up to the data chunk's header.
class ChunkWalk {
 public:
  ChunkWalk(ForwardReader& in, RiffScan& scan) : in_(in), s_(scan) {}

  // As readers walk it: a pad byte after each odd size, and where the list
  // breaks (an identifier that is not printable, a size past the end of the
  // file), the first "data" from there on taken for the data chunk.
  void run() {
    std::uint64_t pos = 12;
    bool oddBefore = false;  // the chunk before has an odd size: a pad byte follows
    for (int count = 0; count < kMostChunks; ++count) {
      unsigned char b[9] = {};
      const std::size_t got = in_.readAt(pos, b, oddBefore ? 9 : 8);
      const unsigned char* head = oddBefore ? b + 1 : b;
      const std::uint64_t at = oddBefore ? pos + 1 : pos;
      if (got < (oddBefore ? 9u : 8u) || !valid(head, at)) {
        search(pos, oddBefore);
        return;
      }
      const std::uint32_t size = readLe32(head + 4);
      if (isId(head, "data")) {
        s_.data = {true, at, size};
        return;
      }
      take(head, at, size);
      pos = at + 8 + std::uint64_t{size};
      oddBefore = size % 2 != 0;
    }
    s_.broken = "more than " + std::to_string(kMostChunks) + " chunks come before the audio";
  }

 private:
  // Four printable characters and a size within the file; the data chunk's
  // may reach past its end (a file cut short keeps its audio), and a format
  // chunk right after "WAVE" is taken as it stands.
  bool valid(const unsigned char* head, std::uint64_t at) const {
    return printableId(head) && (isId(head, "data") || (at == 12 && isId(head, "fmt ")) ||
                                 at + 8 + readLe32(head + 4) <= s_.fileLength);
  }

  // The first "data" with its size from `from` on, within kSearched bytes:
  // the data chunk, where the chunk list broke at `from`. What is read past
  // its header is held for the search of the chunks after the audio.
  void search(std::uint64_t from, bool afterOddSize) {
    constexpr std::size_t kBlock = 65536;
    std::vector<unsigned char> bytes;
    for (std::uint64_t pos = from; pos < from + kSearched;) {
      const std::size_t old = bytes.size();
      bytes.resize(old + kBlock);
      const std::size_t got = in_.readAt(pos, bytes.data() + old, kBlock);
      bytes.resize(old + got);
      pos += got;
      const char id[] = "data";
      const auto at = std::search(bytes.begin(), bytes.end(), id, id + 4);
      if (bytes.end() - at >= 8) {
        takeFound(static_cast<std::size_t>(at - bytes.begin()), bytes, from, afterOddSize);
        return;
      }
      if (got < kBlock) break;
    }
    s_.broken = "the chunk list breaks at offset " + std::to_string(from);
  }

  void takeFound(std::size_t into, const std::vector<unsigned char>& bytes, std::uint64_t from,
                 bool afterOddSize) {
    // Bytes written into the size of a data chunk that overlaps the broken
    // header could make that header whole: readers would then walk on.
    if (into != 0 && into < 9) {
      s_.broken =
          "the chunk list breaks at offset " + std::to_string(from) + ", right before a data chunk";
      return;
    }
    s_.data = {true, from + into, readLe32(bytes.data() + into + 4)};
    s_.dataBehindOddChunk = afterOddSize && into == 0;
    s_.heldFrom = from + into + 8;
    s_.held.assign(bytes.begin() + static_cast<std::ptrdiff_t>(into + 8), bytes.end());
  }

  void take(const unsigned char* head, std::uint64_t pos, std::uint32_t size) {
    if (isId(head, "fmt ") && !s_.fmt.found) {
      s_.fmt = {true, pos, size};
      in_.readAt(pos + 8, s_.fmtBody.data(), std::min<std::size_t>(size, s_.fmtBody.size()));
    } else if (isId(head, "ds64") && ++s_.ds64Chunks == 1 && pos == 12) {
      s_.ds64 = {true, pos, size};
      unsigned char body[24] = {};
      if (size >= 24 && in_.readAt(pos + 8, body, 24) == 24) {
        s_.ds64RiffSize = readLe64(body);
        s_.ds64DataSize = readLe64(body + 8);
        s_.ds64SampleCount = readLe64(body + 16);
      }
    } else if (isId(head, "JUNK") && pos == 12) {
      s_.firstJunk = {true, pos, size};
      if (size >= s_.junkBody.size()) in_.readAt(pos + 8, s_.junkBody.data(), s_.junkBody.size());
    }
  }

  ForwardReader& in_;
  RiffScan& s_;
};

}  // namespace

std::uint32_t readLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t readLe64(const unsigned char* p) {
  return static_cast<std::uint64_t>(readLe32(p)) | static_cast<std::uint64_t>(readLe32(p + 4))
                                                       << 32;
}

RiffScan scanRiff(ByteSource& source, std::uint64_t fileLength, std::uint64_t& position) {
  RiffScan s;
  s.fileLength = fileLength;
  ForwardReader in(source, 0);
  unsigned char h[12] = {};
  const std::size_t got = in.readAt(0, h, sizeof h);
  s.held.assign(h, h + got);
  const bool riffFamily = isId(h, "RIFF") || isId(h, "RF64") || isId(h, "BW64");
  if (got < sizeof h || (!riffFamily && !isId(h, "RIFX"))) {
    s.form = RiffForm::kHeaderless;
  } else if (!isId(h + 8, "WAVE")) {
    s.form = RiffForm::kOtherRiff;
    s.formText = idText(h + 8);
  } else if (isId(h, "RIFX")) {
    s.form = RiffForm::kBigEndian;
  } else {
    s.form = isId(h, "RIFF") ? RiffForm::kRiff : RiffForm::kRf64;
  }
  s.riffSize = readLe32(h + 4);
  if (s.form == RiffForm::kRiff || s.form == RiffForm::kRf64) {
    try {
      ChunkWalk(in, s).run();
    } catch (...) {
      position = in.position();
      throw;
    }
  }
  position = in.position();
  return s;
}

bool knownTrailingChunk(const std::string& id) {
  return id.size() == 4 && knownId(reinterpret_cast<const unsigned char*>(id.data()));
}

namespace {

// Chunks behind the audio that end this close to the end of the file, but
// not at it, stop a repair.
constexpr std::uint64_t kNear = 65536;

// What looks like a chunk header in the last bytes of a file: four printable
// characters and a size that ends it no further than kNear past the end.
// Audio rarely gives one: the size must fall into a few MiB of 4 GiB.
struct Head {
  std::uint64_t offset = 0;
  std::uint64_t end = 0;  // past its body, without a pad byte
  unsigned char id[4] = {};
};

// The chunk headers of the file's last bytes, read front to back through a
// small buffer, searched for the chunks that follow its audio.
class TailSearch {
 public:
  TailSearch(std::uint64_t fileLength, std::uint64_t dataStart, std::uint64_t frameBytes)
      : end_(fileLength), dataStart_(dataStart), unit_(std::max<std::uint64_t>(frameBytes, 1)) {}

  // Reads from `from` to the end; false when the file ends early.
  bool read(ForwardReader& in, std::uint64_t from) {
    constexpr std::size_t kBlock = 65536;
    std::vector<unsigned char> buffer(kBlock + 7);
    std::size_t carry = 0;  // the last 7 bytes of the block before
    for (std::uint64_t pos = from; pos < end_;) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, end_ - pos));
      if (in.readAt(pos, buffer.data() + carry, want) != want) return false;
      const std::size_t held = carry + want;
      const std::uint64_t base = pos - carry;
      for (std::size_t i = 0; i + 8 <= held; ++i) look(base + i, buffer.data() + i);
      carry = std::min<std::size_t>(held, 7);
      std::memmove(buffer.data(), buffer.data() + held - carry, carry);
      pos += want;
    }
    return true;
  }

  TrailingChain run() {
    TrailingChain chain;
    chain.start = end_;
    collectStarts();
    // The earliest start: the longest chain.
    for (auto it = starts_.rbegin(); it != starts_.rend(); ++it) {
      const Head& h = *headAt(*it);
      if (!opensChain(h)) continue;
      chain.start = h.offset;
      for (std::uint64_t c = h.offset; c != end_; c = next(*headAt(c))) {
        chain.ids.push_back(idText(headAt(c)->id));
      }
      return chain;
    }
    findLooseChain(chain);
    return chain;
  }

 private:
  void look(std::uint64_t offset, const unsigned char* p) {
    if (!printableId(p)) return;
    Head h;
    h.offset = offset;
    h.end = offset + 8 + readLe32(p + 4);
    if (h.end > end_ + kNear) return;
    std::memcpy(h.id, p, 4);
    heads_.push_back(h);
  }

  const Head* headAt(std::uint64_t offset) const {
    const auto it = std::lower_bound(heads_.begin(), heads_.end(), offset,
                                     [](const Head& h, std::uint64_t o) { return h.offset < o; });
    return it != heads_.end() && it->offset == offset ? &*it : nullptr;
  }

  bool isStart(std::uint64_t offset) const {
    return offset == end_ || std::binary_search(starts_.begin(), starts_.end(), offset,
                                                std::greater<std::uint64_t>());
  }

  // Where the chunk leads, past its pad byte where that is a start (a last
  // odd chunk may lack it); 0 when not to a start.
  std::uint64_t next(const Head& h) const {
    const bool odd = (h.end - h.offset) % 2 != 0;
    if (odd && h.end + 1 <= end_ && isStart(h.end + 1)) return h.end + 1;
    return h.end <= end_ && isStart(h.end) ? h.end : 0;
  }

  // Walking back from the end: every offset whose chunk leads, through valid
  // chunks, exactly to the end of the file, from the end backwards.
  void collectStarts() {
    for (auto it = heads_.rbegin(); it != heads_.rend(); ++it) {
      if (next(*it) != 0) starts_.push_back(it->offset);
    }
  }

  // A known chunk at a frame boundary, or one pad byte behind an odd number
  // of whole frames.
  bool opensChain(const Head& h) const {
    const std::uint64_t into = h.offset - dataStart_;
    const bool aligned =
        into % unit_ == 0 || (into % 2 == 0 && into > 0 && (into - 1) % unit_ == 0);
    return aligned && knownId(h.id);
  }

  // A chain that opens as a trailing one does but ends near the end of the
  // file without reaching it exactly: cut off, or with bytes behind it.
  void findLooseChain(TrailingChain& chain) const {
    for (const Head& first : heads_) {
      if (!opensChain(first)) continue;
      std::uint64_t reach = first.offset;
      for (const Head* h = &first; h; h = headAt(reach)) {
        if (h->end > end_) {
          reach = h->end;
          break;
        }
        const bool odd = (h->end - h->offset) % 2 != 0;
        reach = h->end + (odd && h->end < end_ ? 1 : 0);
      }
      if (reach != end_ && reach + kNear >= end_) {
        chain.loose = true;
        chain.looseStart = first.offset;
        chain.looseId = idText(first.id);
        chain.looseEnd = reach;
        return;
      }
    }
  }

  std::uint64_t end_, dataStart_, unit_;
  std::vector<Head> heads_;            // in the order of their offsets
  std::vector<std::uint64_t> starts_;  // from the end backwards
};

}  // namespace

namespace {

// Bytes of the file read already (from `heldFrom` on), then the rest of it.
class HeldThenRest : public ByteSource {
 public:
  HeldThenRest(const std::vector<unsigned char>& held, std::uint64_t heldFrom,
               std::uint64_t position, ByteSource& rest)
      : held_(held), heldFrom_(heldFrom), pos_(position), rest_(rest) {}
  std::size_t read(void* buffer, std::size_t count) override {
    const std::uint64_t at = pos_;
    const std::size_t n = fromHeld(count);
    if (n > 0) std::memcpy(buffer, held_.data() + (at - heldFrom_), n);
    return n + (n < count ? rest_.read(static_cast<unsigned char*>(buffer) + n, count - n) : 0);
  }
  std::uint64_t skip(std::uint64_t count) override {
    const std::size_t n = fromHeld(count);
    return n + (n < count ? rest_.skip(count - n) : 0);
  }

 private:
  // Takes up to `count` of the held bytes; how many.
  std::size_t fromHeld(std::uint64_t count) {
    const std::uint64_t end = heldFrom_ + held_.size();
    const auto n = static_cast<std::size_t>(std::min(count, pos_ < end ? end - pos_ : 0));
    pos_ += n;
    return n;
  }

  const std::vector<unsigned char>& held_;
  std::uint64_t heldFrom_;
  std::uint64_t pos_;
  ByteSource& rest_;
};

}  // namespace

TrailingChain findTrailingChain(ByteSource& source, std::uint64_t position, const RiffScan& scan,
                                std::uint64_t dataStart, std::uint64_t frameBytes) {
  const std::uint64_t fileLength = scan.fileLength;
  // Audio that begins among the bytes read already is read again from them.
  const bool held = dataStart >= scan.heldFrom && dataStart < position &&
                    scan.heldFrom + scan.held.size() == position;
  const std::uint64_t start = held ? dataStart : position;
  HeldThenRest again(scan.held, scan.heldFrom, start, source);
  const std::uint64_t from =
      std::max({start, dataStart, fileLength > kTailWindow ? fileLength - kTailWindow : 0});
  TrailingChain none;
  none.start = fileLength;
  if (from + 8 > fileLength) return none;
  ForwardReader in(again, start);
  TailSearch search(fileLength, dataStart, frameBytes);
  if (!search.read(in, from)) return none;
  return search.run();
}

}  // namespace ril
