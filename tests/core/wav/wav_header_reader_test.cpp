#include "core/wav/wav_header_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "core/base/errors.h"
#include "core/wav/header_report.h"
#include "support/analysed_file.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::WavShape;

const std::string CRLF = "\r\n";

// A header read from memory, with its report lines and warnings.
struct Parsed {
  WavHeader header;
  HeaderStatus status;
  std::string lines;
  std::vector<std::string> windowLines;
  bool dataFound;
  std::int64_t dataOffset;
  std::uint64_t dataSize;
  std::int64_t sampleFrames;
  std::int64_t trailerLength;
  std::int64_t framesInFile;
};

Parsed parse(const Bytes& bytes, const std::string& path = "/x/a.wav") {
  const WavHeader h = readWavHeader(std::make_unique<MemorySource>(bytes), bytes.size()).header;
  return Parsed{h,
                h.status,
                headerReportLines(path, h, CRLF),
                headerWarnings(h),
                h.findings.dataFound,
                h.layout.dataOffset,
                h.layout.dataSize,
                h.layout.sampleFrames,
                h.layout.trailerLength,
                h.layout.framesInFile};
}

std::string joinLines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& l : lines) out += l + CRLF;
  return out;
}

// Reads a file from the disk as a batch run does.
struct Reading {
  test::TempDir dir;
  HeaderReading reading;
  std::string report;
  const WavHeader& header() const { return reading.header; }
  const WavLayout& layout() const { return reading.header.layout; }
  void read(const Bytes& bytes, const std::string& name = "a.wav") {
    test::writeFile(dir.file(name), bytes);
    reading = readWavFile(realFileSystem(), dir.file(name));
    report = headerReportLines(dir.file(name), reading.header, CRLF);
  }
};

TEST(WavHeaderReader, WorkedExampleGivesSixLinesAndTheFields) {
  WavShape shape;
  shape.data.assign(10584000, 0);
  Bytes bytes = test::buildWav(shape);
  ASSERT_EQ(bytes.size(), 10584044u);
  Reading r;
  r.read(bytes);
  const std::string p = r.dir.file("a.wav");
  EXPECT_EQ(r.report, joinLines({"Filename:\t" + p, "Filelength:\t10.094 MB",
                                 "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t44100 Hz",
                                 "Resolution:\t16 bit", "Length of file:\t01:00 (Min:Sec)"}));
  EXPECT_TRUE(headerWarnings(r.header()).empty());
  EXPECT_EQ(r.layout().dataOffset, 44);
  EXPECT_EQ(r.layout().sampleFrames, 2646000);
  EXPECT_EQ(r.layout().trailerLength, 0);
  EXPECT_EQ(r.layout().framesInFile, 2646000);
  EXPECT_EQ(r.header().status, HeaderStatus::kReady);
  EXPECT_EQ(r.header().format, (WavFormat{1, 2, 16, 44100}));
}

TEST(WavHeaderReader, LeavesTheInputAtTheFirstSampleByte) {
  WavShape shape;
  shape.channels = 1;
  shape.before.push_back({"LIST", Bytes(18, 'x')});
  shape.data = test::pcm16({1234, -2});
  shape.after.push_back({"id3 ", Bytes(5, 7)});
  Reading r;
  r.read(test::buildWav(shape));
  ASSERT_TRUE(r.reading.samples);
  unsigned char b[4];
  ASSERT_EQ(r.reading.samples->read(b, 4), 4u);
  EXPECT_EQ(Bytes(b, b + 4), test::pcm16({1234, -2}));
  EXPECT_EQ(r.layout().dataOffset, 70);
  EXPECT_EQ(r.layout().trailerLength, 8 + 6);
}

TEST(WavHeaderReader, FindsTheDataChunkBehindOtherChunksAndExtendedFormats) {
  WavShape fmt18;
  fmt18.fmtExtra = {0, 0};
  fmt18.data = test::pcm16({1, 2});
  Parsed a = parse(test::buildWav(fmt18));
  EXPECT_EQ(a.dataOffset, 46);
  EXPECT_TRUE(a.windowLines.empty());

  WavShape list;
  list.before.push_back({"LIST", Bytes(18, 'a')});
  list.data = test::pcm16({1, 2});
  EXPECT_EQ(parse(test::buildWav(list)).dataOffset, 70);

  // The chunks are walked: "data" inside a LIST comment is passed over, and
  // so is an odd-sized chunk with its pad byte.
  WavShape decoy;
  Bytes comment = {'I', 'C', 'M', 'T', 13, 0, 0, 0};
  for (char c : std::string("data 99999999")) comment.push_back(static_cast<unsigned char>(c));
  comment.push_back(0);  // the sub-chunk's pad byte
  decoy.before.push_back({"LIST", comment});
  decoy.before.push_back({"inst", Bytes(7, 'd')});  // odd: a pad byte follows
  decoy.data = test::pcm16({1, 2});
  Parsed d = parse(test::buildWav(decoy));
  EXPECT_EQ(d.status, HeaderStatus::kReady);
  EXPECT_EQ(d.dataOffset, 36 + 8 + 22 + 8 + 8 + 8);
  EXPECT_EQ(d.dataSize, 4u);
  EXPECT_EQ(d.trailerLength, 0);
  EXPECT_EQ(d.lines, parse(test::buildWav(list)).lines);
}

TEST(WavHeaderReader, BrokenChunkListsFallBackToTheByteSearchFromWhereTheyBreak) {
  // A chunk whose size runs past the end of the file; an identifier that is
  // not printable; an odd chunk written without its pad byte.
  for (const test::Chunk& broken :
       {test::Chunk{"big ", Bytes(6, 'x')}, test::Chunk{"\x01\x02zz", Bytes(6, 'x')},
        test::Chunk{"odd ", Bytes(5, 'x')}}) {
    SCOPED_TRACE(broken.id);
    WavShape shape;
    shape.before.push_back({"LIST", Bytes{'d', 'a', 't', 'a', 2, 0, 0, 0}});
    shape.before.push_back(broken);
    shape.data = test::pcm16({5, 6});
    Bytes bytes = test::buildWav(shape);
    const std::size_t at = 36 + 16;  // the broken chunk's header
    std::size_t dataAt = at + 8 + 6;
    if (broken.id == "big ") bytes[at + 6] = 0x10;  // 1 MiB more
    if (broken.id == "odd ") {
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + 5));  // the pad byte
      dataAt = at + 8 + 5;
    }
    Parsed r = parse(bytes);
    EXPECT_EQ(r.status, HeaderStatus::kReady);
    // The LIST before the break was walked; its "data" text is not taken.
    EXPECT_EQ(r.dataOffset, static_cast<std::int64_t>(dataAt + 8));
    EXPECT_EQ(r.dataSize, 4u);
  }
}

TEST(WavHeaderReader, ChunksBeforeTheFormatChunkAreWalkedOverAndOnlyTheWarningRemains) {
  WavShape canonical;
  canonical.channels = 1;
  canonical.bitsPerSample = 8;
  canonical.sampleRate = 16000;
  canonical.data = test::pcm8({1, 2, 3});
  const Parsed twin = parse(test::buildWav(canonical));
  for (const test::Chunk& first :
       {test::Chunk{"JUNK", Bytes(28, 0)}, test::Chunk{"bext", Bytes(602, 'b')},
        test::Chunk{"LIST", Bytes(27, 'l')}}) {
    SCOPED_TRACE(first.id);
    WavShape shape = canonical;
    shape.firstChunks.push_back(first);
    Parsed r = parse(test::buildWav(shape));
    EXPECT_EQ(r.windowLines, std::vector<std::string>{"WAVE" + first.id});
    EXPECT_EQ(r.status, HeaderStatus::kReady);
    EXPECT_EQ(r.header.format, twin.header.format);
    const auto shift = static_cast<std::int64_t>(8 + first.body.size() + first.body.size() % 2);
    EXPECT_EQ(r.dataOffset, twin.dataOffset + shift);
    EXPECT_EQ(r.framesInFile, 3);
    // Every report line from the format on is the canonical twin's.
    EXPECT_EQ(r.lines.substr(r.lines.find("Nr of")), twin.lines.substr(twin.lines.find("Nr of")));
  }
}

TEST(WavHeaderReader, AWaveFileWithoutAFormatChunkOrNotAWaveFileIsNotAnalysed) {
  WavShape junkOnly;
  junkOnly.firstChunks.push_back({"JUNK", Bytes(4, 0)});
  junkOnly.data = test::pcm16({1, 2});
  Bytes bytes = test::buildWav(junkOnly);
  std::memcpy(bytes.data() + 24, "fmX ", 4);  // no format chunk behind the JUNK
  Parsed r = parse(bytes);
  EXPECT_EQ(r.status, HeaderStatus::kNoDataChunk);
  EXPECT_NE(r.lines.find("No data chuk found!\r\nThis file cannot be analysed: it has no format "
                         "chunk, so its sample format is unknown.\r\n"),
            std::string::npos);

  // A text that holds "data", and a RIFF file of another form: never analysed.
  const std::string text = "Some notes on the data of my recordings, not a sound file at all.";
  WavShape avi;
  avi.data = test::pcm16({1, 2});
  Bytes aviBytes = test::buildWav(avi);
  std::memcpy(aviBytes.data() + 8, "AVI ", 4);
  for (const Bytes& b : {Bytes(text.begin(), text.end()), aviBytes}) {
    Parsed n = parse(b);
    EXPECT_NE(n.status, HeaderStatus::kReady);
    EXPECT_NE(n.lines.find("This file cannot be analysed: it is not a WAV file"),
              std::string::npos);
  }
  Parsed t = parse(Bytes(text.begin(), text.end()));
  EXPECT_EQ(t.status, HeaderStatus::kNoDataChunk);
  EXPECT_NE(t.lines.find("No data chuk found!\r\nThis file cannot be analysed"), std::string::npos);
}

TEST(WavHeaderReader, Rf64SizesComeFromTheDs64Chunk) {
  WavShape shape;
  shape.rf64 = true;
  shape.sampleRate = 48000;
  shape.data = test::pcm16({1, -1, 2, -2, 3, -3});
  shape.after.push_back({"LIST", Bytes(9, 'x')});
  const Bytes bytes = test::buildWav(shape);
  Parsed r = parse(bytes, "/r.wav");
  EXPECT_EQ(r.status, HeaderStatus::kReady);
  EXPECT_TRUE(r.header.findings.sizesFromDs64);
  EXPECT_EQ(r.dataOffset, 12 + 36 + 24 + 8);
  EXPECT_EQ(r.dataSize, 12u);
  EXPECT_EQ(r.framesInFile, 3);
  EXPECT_EQ(r.trailerLength, 8 + 10);
  EXPECT_EQ(r.windowLines, std::vector<std::string>{"WAVEds64"});
  // The identifier and the 32-bit RIFF size as the file holds them.
  EXPECT_EQ(r.lines, joinLines({"Filename:\t/r.wav", "Filelength:\t0.000 MB", "RF64", "4294967295",
                                "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t48000 Hz",
                                "Resolution:\t16 bit", "Length of file:\t00:00 (Min:Sec)"}));

  // A size of 0xFFFFFFFF in a RIFF file is taken as it stands.
  Bytes riff = bytes;
  std::memcpy(riff.data(), "RIFF", 4);
  Parsed p = parse(riff);
  EXPECT_FALSE(p.header.findings.sizesFromDs64);
  EXPECT_EQ(p.dataSize, 0xFFFFFFFFu);
  EXPECT_EQ(p.framesInFile, 3 + 4);  // the LIST chunk behind is taken as samples

  // A ds64 size beyond any real file never lets a count overflow.
  WavShape huge = shape;
  huge.dataSize = ~std::uint64_t{0};
  Parsed h = parse(test::buildWav(huge));
  EXPECT_EQ(h.framesInFile, 3 + 4);
  EXPECT_GT(h.sampleFrames, 0);
  EXPECT_LT(h.trailerLength, 0);
}

TEST(WavHeaderReader, ExtensibleIsAnalysedOnlyWithTheExtensionNamingPcm) {
  // cbSize, valid bits, channel mask, the PCM sub-format GUID.
  const Bytes extension = {22, 0, 16,   0, 3,    0, 0, 0,    1, 0,    0,    0,
                           0,  0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  WavShape ext;
  ext.formatTag = -2;
  ext.data = test::pcm16({1, 2});
  ext.fmtExtra = extension;
  EXPECT_EQ(parse(test::buildWav(ext)).status, HeaderStatus::kReady);

  ext.fmtExtra = {};  // a 16-byte format chunk
  Parsed bare = parse(test::buildWav(ext));
  EXPECT_EQ(bare.status, HeaderStatus::kUnsupported);
  EXPECT_NE(bare.lines.find("This file cannot be analysed: its format is extensible (tag -2), "
                            "but the format chunk lacks the extension"),
            std::string::npos);
  ext.fmtExtra = {0, 0};  // cbSize 0
  EXPECT_EQ(parse(test::buildWav(ext)).status, HeaderStatus::kUnsupported);

  ext.fmtExtra = extension;
  ext.fmtExtra[8] = 3;  // IEEE float
  EXPECT_NE(parse(test::buildWav(ext)).lines.find("not PCM (format tag -2, sub-format 3)."),
            std::string::npos);
  ext.fmtExtra = extension;
  ext.fmtExtra[23] = 0;  // not of the WAVE family of GUIDs
  EXPECT_NE(parse(test::buildWav(ext)).lines.find("(format tag -2, an unknown sub-format)"),
            std::string::npos);
}

TEST(WavHeaderReader, FormatWarningsUseThePrintedNumberLayout) {
  WavShape ext;
  ext.formatTag = -2;
  ext.channels = 1;
  ext.fmtExtra = {22,   0, 16,   0, 1, 0,    0, 0,    1,    0,   0, 0, 0, 0,  // sub-format PCM
                  0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  ext.data = test::pcm16({1, 2});
  Parsed e = parse(test::buildWav(ext));
  ASSERT_EQ(e.windowLines.size(), 1u);
  EXPECT_EQ(e.windowLines[0], "WAV-file has no PCM format (-2  instead of 1)");
  EXPECT_EQ(e.status, HeaderStatus::kReady);
  EXPECT_EQ(e.dataOffset, 68);

  WavShape flt;
  flt.formatTag = 3;
  flt.bitsPerSample = 32;
  flt.data = Bytes(16, 0);
  Parsed f = parse(test::buildWav(flt));
  EXPECT_EQ(f.windowLines.at(0), "WAV-file has no PCM format ( 3  instead of 1)");
  EXPECT_EQ(f.status, HeaderStatus::kUnsupported);
  EXPECT_NE(f.lines.find("This file cannot be analysed: it has 32-bit samples"), std::string::npos);

  WavShape shortFmt;
  shortFmt.fmtLength = 14;
  Parsed s = parse(test::buildWav(shortFmt));
  EXPECT_EQ(s.windowLines.at(0), "fmt_ChunkLen =  14 ");
}

TEST(WavHeaderReader, ShortFormatChunkSearchesFromWhereItEnds) {
  // A 2-byte format chunk followed directly by the data chunk.
  Bytes b = {'R', 'I', 'F', 'F', 22, 0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',  ' ',
             2,   0,   0,   0,   1,  0, 'd', 'a', 't', 'a', 2,   0,   0,   0,   0x10, 0x20};
  Parsed r = parse(b);
  EXPECT_TRUE(r.dataFound);
  EXPECT_EQ(r.dataOffset, 30);
  EXPECT_EQ(r.dataSize, 2u);
  EXPECT_EQ(r.trailerLength, 0);
}

TEST(WavHeaderReader, ChannelCountsAndFrameRounding) {
  WavShape four;
  four.channels = 4;
  four.data = Bytes(16, 0);
  Parsed f = parse(test::buildWav(four));
  EXPECT_NE(f.lines.find("Nr of channels:\t4 (Stereo)\r\n"), std::string::npos);
  EXPECT_EQ(f.status, HeaderStatus::kUnsupported);

  WavShape ten;
  ten.data = Bytes(10, 0);
  ten.padOddData = false;
  Parsed t = parse(test::buildWav(ten));
  EXPECT_EQ(t.sampleFrames, 2);  // 2.5 to even
  WavShape fourteen;
  fourteen.data = Bytes(14, 0);
  Parsed u = parse(test::buildWav(fourteen));
  EXPECT_EQ(u.sampleFrames, 4);  // 3.5 to even
  EXPECT_EQ(u.framesInFile, 3);  // only whole frames are processed
}

TEST(WavHeaderReader, PlayingTimeLine) {
  WavShape mono8;
  mono8.channels = 1;
  mono8.bitsPerSample = 8;
  mono8.sampleRate = 22050;
  mono8.data = Bytes(22050, 128);
  Parsed r = parse(test::buildWav(mono8));
  EXPECT_NE(r.lines.find("Length of file:\t00:01 (Min:Sec)\r\n"), std::string::npos);

  // 59.6 seconds show as 60 without carrying into the minutes.
  WavShape s;
  s.channels = 1;
  s.bitsPerSample = 8;
  s.sampleRate = 10;
  s.data = Bytes(596, 128);
  EXPECT_NE(parse(test::buildWav(s)).lines.find("Length of file:\t00:60 (Min:Sec)"),
            std::string::npos);
}

TEST(WavHeaderReader, HeaderInconsistenciesAddTheirValueLines) {
  WavShape shape;
  shape.riffSize = 0xFFFFFFF0u;
  shape.byteRate = 1;
  shape.blockAlign = 3;
  shape.data = test::pcm16({0, 0});
  Bytes bytes = test::buildWav(shape);
  bytes[0] = 'R';
  bytes[3] = 'X';
  Parsed r = parse(bytes, "/p.wav");
  EXPECT_EQ(r.lines,
            joinLines({"Filename:\t/p.wav", "Filelength:\t0.000 MB", "RIFX", "4294967280",
                       "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t44100 Hz",
                       "Resolution:\t16 bit", "1", "3", "Length of file:\t00:00 (Min:Sec)"}));
}

TEST(WavHeaderReader, MissingDataChunkEndsTheReportAfterTheFormat) {
  Reading r;
  WavShape good;
  good.data = Bytes(400, 0);
  Bytes header36 = test::buildWav(good);
  header36.resize(36);
  r.read(header36, "cut.wav");
  EXPECT_EQ(r.header().status, HeaderStatus::kNoDataChunk);
  EXPECT_FALSE(r.reading.samples);
  EXPECT_NE(r.report.find("Resolution:\t16 bit\r\nNo data chuk found!\r\n"), std::string::npos);
}

TEST(WavHeaderReader, EmptyFileGivesNameAndLengthOnly) {
  Reading r;
  r.read({}, "empty.wav");
  EXPECT_EQ(r.report,
            joinLines({"Filename:\t" + r.dir.file("empty.wav"), "Filelength:\t0.000 MB"}));
  EXPECT_EQ(r.header().status, HeaderStatus::kEmpty);
  EXPECT_FALSE(r.header().findings.formatRead);
}

TEST(WavHeaderReader, UnreadableFileIsReportedAndTheRunGoesOn) {
  const WavHeader h = readWavFile(realFileSystem(), "/nonexistent/dir/a.wav").header;
  EXPECT_EQ(h.status, HeaderStatus::kUnreadable);
  EXPECT_EQ(headerReportLines("/nonexistent/dir/a.wav", h, CRLF),
            joinLines({"Filename:\t/nonexistent/dir/a.wav",
                       "Cannot read the file: File not found (error 53)"}));
}

TEST(WavHeaderReader, DataPastTheEndGivesNegativeTrailerAndOnlyPresentFrames) {
  WavShape shape;
  shape.channels = 1;
  shape.data = test::pcm16({1, 2, 3});
  shape.padOddData = false;
  shape.dataSize = 1000;
  Parsed r = parse(test::buildWav(shape));
  EXPECT_EQ(r.trailerLength, 50 - 44 - 1000);
  EXPECT_EQ(r.sampleFrames, 500);
  EXPECT_EQ(r.framesInFile, 3);
}

TEST(WavHeaderReader, ZeroChannelsOrBitsNeverDivide) {
  WavShape shape;
  shape.channels = 0;
  shape.bitsPerSample = 0;
  shape.sampleRate = 0;
  shape.data = Bytes(100, 1);
  Parsed r = parse(test::buildWav(shape));
  EXPECT_EQ(r.status, HeaderStatus::kUnsupported);
  EXPECT_EQ(r.sampleFrames, 0);
  EXPECT_EQ(r.lines.find("Length of file"), std::string::npos);
}

TEST(WavHeaderReader, FourGigabyteSizesStayUnsigned) {
  WavShape shape;
  shape.data = test::pcm16({0, 0});
  shape.dataSize = 0xF0000000u;
  Parsed r = parse(test::buildWav(shape));
  EXPECT_EQ(r.sampleFrames, 0xF0000000ll / 4);
  EXPECT_NE(r.lines.find("Length of file:\t" + std::to_string(0xF0000000ll / 4 / 44100 / 60) + ":"),
            std::string::npos);
}

// What the corpus manifest says of a file: its format ("PCM 2ch 44100Hz
// 16bit ...", "EXTENSIBLE 2ch 8000Hz 8bit ... sub=PCM ...") and the size of
// its data chunk ("data(1600)"), when a chunk walk finds one.
struct ManifestEntry {
  bool pcm = false;
  int channels = 0;
  int rate = 0;
  int bits = 0;
  long dataBytes = -1;
};

std::map<std::string, ManifestEntry> manifestEntries() {
  std::map<std::string, ManifestEntry> out;
  auto dir = test::corpusDirectory();
  if (!dir) return out;
  std::ifstream f(*dir + "MANIFEST.tsv");
  std::string line;
  while (std::getline(f, line)) {
    const std::size_t at = line.find("|| ");
    if (at == std::string::npos) continue;
    ManifestEntry e;
    std::istringstream words(line.substr(at + 3));
    std::string kind, channels, rate, bits;
    words >> kind >> channels >> rate >> bits;
    e.pcm = kind == "PCM" || (kind == "EXTENSIBLE" && line.find("sub=PCM") != std::string::npos);
    if (e.pcm) {
      e.channels = std::stoi(channels);
      e.rate = std::stoi(rate);
      e.bits = std::stoi(bits);
    }
    const std::size_t data = line.find(" data(");
    if (data != std::string::npos) e.dataBytes = std::stol(line.substr(data + 6));
    out[line.substr(0, line.find('\t'))] = e;
  }
  return out;
}

TEST(WavHeaderReader, EveryCorpusPcmFileIsReportedWithItsFormatAndAnalysed) {
  auto files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "the shared corpus folder is absent";
  const auto entries = manifestEntries();
  int checked = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const test::AnalysedFile a = test::analyseFile(path);
    EXPECT_NE(a.header.status, HeaderStatus::kUnreadable);
    auto it = entries.find(baseNameOf(path));
    if (it == entries.end()) continue;
    const ManifestEntry& e = it->second;
    if (!e.pcm || (e.channels != 1 && e.channels != 2) || (e.bits != 8 && e.bits != 16)) continue;
    ++checked;
    EXPECT_NE(a.report.find("Nr of channels:\t" + std::to_string(e.channels) +
                            (e.channels == 1 ? " (Mono)" : " (Stereo)") + "\r\nSample frequ.:\t" +
                            std::to_string(e.rate) + " Hz\r\nResolution:\t" +
                            std::to_string(e.bits) + " bit\r\n"),
              std::string::npos);
    EXPECT_EQ(a.header.status, HeaderStatus::kReady);
    if (e.dataBytes > 0) {
      EXPECT_GT(a.header.layout.framesInFile, 0);
    }
    if (a.header.layout.framesInFile > 0) {
      EXPECT_TRUE(a.analysed());
    }
  }
  EXPECT_GE(checked, 30);
}

}  // namespace
}  // namespace ril
