#include "core/wav/wav_header_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "core/base/errors.h"
#include "core/wav/header_report.h"
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
  std::uint32_t dataSize;
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

  // A chunk whose bytes hold "data" ends the byte-wise search there.
  WavShape decoy;
  decoy.before.push_back({"LIST", Bytes{'x', 'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3}});
  decoy.data = test::pcm16({1, 2});
  Parsed d = parse(test::buildWav(decoy));
  EXPECT_TRUE(d.dataFound);
  EXPECT_EQ(d.dataOffset, 36 + 8 + 1 + 8);
  EXPECT_EQ(d.dataSize, 4u);
}

TEST(WavHeaderReader, JunkChunkFirstDrawsTheEightCharactersAndReadsOn) {
  WavShape shape;
  shape.firstChunks.push_back({"JUNK", Bytes(4, 0)});
  shape.data = test::pcm16({1, 2});
  Parsed r = parse(test::buildWav(shape));
  ASSERT_FALSE(r.windowLines.empty());
  EXPECT_EQ(r.windowLines[0], "WAVEJUNK");
}

TEST(WavHeaderReader, FormatWarningsUseThePrintedNumberLayout) {
  WavShape ext;
  ext.formatTag = -2;
  ext.channels = 1;
  Bytes extension = {22, 0, 16, 0, 1, 0, 0, 0, 1, 0};  // cbSize, valid bits, mask, sub-format PCM
  extension.resize(24, 0);
  ext.fmtExtra = extension;
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

// The corpus manifest says where a naive byte-wise search finds "data".
std::map<std::string, long> manifestDataPositions() {
  std::map<std::string, long> out;
  auto dir = test::corpusDirectory();
  if (!dir) return out;
  std::ifstream f(*dir + "MANIFEST.tsv");
  std::string line;
  // "... search for 'data' from N -> M": M is the position.
  const std::string search = "search for 'data' from ";
  while (std::getline(f, line)) {
    const std::size_t at = line.find(search);
    if (at == std::string::npos) continue;
    const std::size_t arrow = line.find(" -> ", at);
    if (arrow == std::string::npos) continue;
    out[line.substr(0, line.find('\t'))] = std::stol(line.substr(arrow + 4));
  }
  return out;
}

TEST(WavHeaderReader, EveryCorpusFileIsReadAsTheManifestPredicts) {
  auto files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "the shared corpus folder is absent";
  auto positions = manifestDataPositions();
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const WavHeader h = readWavFile(realFileSystem(), path).header;
    EXPECT_NE(h.status, HeaderStatus::kUnreadable);
    auto it = positions.find(baseNameOf(path));
    if (it == positions.end()) continue;
    if (it->second < 0) {
      EXPECT_EQ(h.status, HeaderStatus::kNoDataChunk);
    } else {
      EXPECT_NE(h.status, HeaderStatus::kNoDataChunk);
      EXPECT_EQ(h.layout.dataOffset, it->second + 8);
    }
  }
}

}  // namespace
}  // namespace ril
