#include "core/wav/wav_header_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "core/base/errors.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::WavShape;

const std::string CRLF = "\r\n";

HeaderReading parse(const Bytes& bytes, const std::string& path = "/x/a.wav") {
  return parseWavHeader(std::make_unique<MemorySource>(bytes), bytes.size(), path, CRLF);
}

std::string joinLines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& l : lines) out += l + CRLF;
  return out;
}

// Reads a file through the program state as a batch run does.
struct Reading {
  test::TempDir dir;
  ProgramState state;
  ScriptedHost view;
  void read(const Bytes& bytes, const std::string& name = "a.wav") {
    test::writeFile(dir.file(name), bytes);
    state.lineBreak = CRLF;
    state.filePaths = {dir.file(name)};
    state.fileNames = {name};
    ReadWavHeader(state, 0, true, realFileSystem(), view);
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
  EXPECT_EQ(r.state.reportText,
            joinLines({"Filename:\t" + p, "Filelength:\t10.094 MB", "Nr of channels:\t2 (Stereo)",
                       "Sample frequ.:\t44100 Hz", "Resolution:\t16 bit",
                       "Length of file:\t01:00 (Min:Sec)"}));
  EXPECT_EQ(r.view.report, r.state.reportText);
  EXPECT_TRUE(r.view.printed.empty());
  EXPECT_EQ(r.state.dataOffset, 44);
  EXPECT_EQ(r.state.sampleFrames, 2646000);
  EXPECT_EQ(r.state.trailerLength, 0);
  EXPECT_EQ(r.state.framesInFile, 2646000);
  EXPECT_EQ(r.state.headerStatus, HeaderStatus::kReady);
  EXPECT_EQ(r.state.channels, 2);
  EXPECT_EQ(r.state.sampleRate, 44100);
  EXPECT_EQ(r.state.bitsPerSample, 16);
}

TEST(WavHeaderReader, LeavesTheInputAtTheFirstSampleByte) {
  WavShape shape;
  shape.channels = 1;
  shape.before.push_back({"LIST", Bytes(18, 'x')});
  shape.data = test::pcm16({1234, -2});
  shape.after.push_back({"id3 ", Bytes(5, 7)});
  Reading r;
  r.read(test::buildWav(shape));
  ASSERT_TRUE(r.state.wavInput);
  unsigned char b[4];
  ASSERT_EQ(r.state.wavInput->read(b, 4), 4u);
  EXPECT_EQ(Bytes(b, b + 4), test::pcm16({1234, -2}));
  EXPECT_EQ(r.state.dataOffset, 70);
  EXPECT_EQ(r.state.trailerLength, 8 + 6);
}

TEST(WavHeaderReader, FindsTheDataChunkBehindOtherChunksAndExtendedFormats) {
  WavShape fmt18;
  fmt18.fmtExtra = {0, 0};
  fmt18.data = test::pcm16({1, 2});
  HeaderReading a = parse(test::buildWav(fmt18));
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
  HeaderReading d = parse(test::buildWav(decoy));
  EXPECT_TRUE(d.dataFound);
  EXPECT_EQ(d.dataOffset, 36 + 8 + 1 + 8);
  EXPECT_EQ(d.dataSize, 4u);
}

TEST(WavHeaderReader, JunkChunkFirstDrawsTheEightCharactersAndReadsOn) {
  WavShape shape;
  shape.firstChunks.push_back({"JUNK", Bytes(4, 0)});
  shape.data = test::pcm16({1, 2});
  HeaderReading r = parse(test::buildWav(shape));
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
  HeaderReading e = parse(test::buildWav(ext));
  ASSERT_EQ(e.windowLines.size(), 1u);
  EXPECT_EQ(e.windowLines[0], "WAV-file has no PCM format (-2  instead of 1)");
  EXPECT_EQ(e.status, HeaderStatus::kReady);
  EXPECT_EQ(e.dataOffset, 68);

  WavShape flt;
  flt.formatTag = 3;
  flt.bitsPerSample = 32;
  flt.data = Bytes(16, 0);
  HeaderReading f = parse(test::buildWav(flt));
  EXPECT_EQ(f.windowLines.at(0), "WAV-file has no PCM format ( 3  instead of 1)");
  EXPECT_EQ(f.status, HeaderStatus::kUnsupported);
  EXPECT_NE(f.lines.find("This file cannot be analysed: it has 32-bit samples"), std::string::npos);

  WavShape shortFmt;
  shortFmt.fmtLength = 14;
  HeaderReading s = parse(test::buildWav(shortFmt));
  EXPECT_EQ(s.windowLines.at(0), "fmt_ChunkLen =  14 ");
}

TEST(WavHeaderReader, ShortFormatChunkSearchesFromWhereItEnds) {
  // A 2-byte format chunk followed directly by the data chunk.
  Bytes b = {'R', 'I', 'F', 'F', 22, 0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',  ' ',
             2,   0,   0,   0,   1,  0, 'd', 'a', 't', 'a', 2,   0,   0,   0,   0x10, 0x20};
  HeaderReading r = parse(b);
  EXPECT_TRUE(r.dataFound);
  EXPECT_EQ(r.dataOffset, 30);
  EXPECT_EQ(r.dataSize, 2u);
  EXPECT_EQ(r.trailerLength, 0);
}

TEST(WavHeaderReader, ChannelCountsAndFrameRounding) {
  WavShape four;
  four.channels = 4;
  four.data = Bytes(16, 0);
  HeaderReading f = parse(test::buildWav(four));
  EXPECT_NE(f.lines.find("Nr of channels:\t4 (Stereo)\r\n"), std::string::npos);
  EXPECT_EQ(f.status, HeaderStatus::kUnsupported);

  WavShape ten;
  ten.data = Bytes(10, 0);
  ten.padOddData = false;
  HeaderReading t = parse(test::buildWav(ten));
  EXPECT_EQ(t.sampleFrames, 2);  // 2.5 to even
  WavShape fourteen;
  fourteen.data = Bytes(14, 0);
  HeaderReading u = parse(test::buildWav(fourteen));
  EXPECT_EQ(u.sampleFrames, 4);  // 3.5 to even
  EXPECT_EQ(u.framesInFile, 3);  // only whole frames are processed
}

TEST(WavHeaderReader, PlayingTimeLine) {
  WavShape mono8;
  mono8.channels = 1;
  mono8.bitsPerSample = 8;
  mono8.sampleRate = 22050;
  mono8.data = Bytes(22050, 128);
  HeaderReading r = parse(test::buildWav(mono8));
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
  HeaderReading r = parse(bytes, "/p.wav");
  EXPECT_EQ(r.lines,
            joinLines({"Filename:\t/p.wav", "Filelength:\t0.000 MB", "RIFX", "4294967280",
                       "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t44100 Hz",
                       "Resolution:\t16 bit", "1", "3", "Length of file:\t00:00 (Min:Sec)"}));
}

TEST(WavHeaderReader, MissingDataChunkKeepsThePreviousFrameCount) {
  Reading r;
  WavShape good;
  good.data = Bytes(400, 0);
  r.read(test::buildWav(good), "good.wav");
  ASSERT_EQ(r.state.sampleFrames, 100);

  Bytes header36 = test::buildWav(good);
  header36.resize(36);
  r.read(header36, "cut.wav");
  EXPECT_EQ(r.state.headerStatus, HeaderStatus::kNoDataChunk);
  EXPECT_EQ(r.state.sampleFrames, 100);
  EXPECT_FALSE(r.state.wavInput);
  EXPECT_NE(r.state.reportText.find("Resolution:\t16 bit\r\nNo data chuk found!\r\n"),
            std::string::npos);
}

TEST(WavHeaderReader, EmptyFileGivesNameAndLengthOnly) {
  Reading r;
  r.state.channels = 7;
  r.read({}, "empty.wav");
  EXPECT_EQ(r.state.reportText,
            joinLines({"Filename:\t" + r.dir.file("empty.wav"), "Filelength:\t0.000 MB"}));
  EXPECT_EQ(r.state.headerStatus, HeaderStatus::kEmpty);
  EXPECT_EQ(r.state.channels, 7);
}

TEST(WavHeaderReader, UnreadableFileIsReportedAndTheRunGoesOn) {
  ProgramState state;
  state.lineBreak = CRLF;
  state.filePaths = {"/nonexistent/dir/a.wav"};
  ScriptedHost view;
  ReadWavHeader(state, 0, true, realFileSystem(), view);
  EXPECT_EQ(state.headerStatus, HeaderStatus::kUnreadable);
  EXPECT_EQ(state.reportText, joinLines({"Filename:\t/nonexistent/dir/a.wav",
                                         "Cannot read the file: File not found (error 53)"}));
}

TEST(WavHeaderReader, DataPastTheEndGivesNegativeTrailerAndOnlyPresentFrames) {
  WavShape shape;
  shape.channels = 1;
  shape.data = test::pcm16({1, 2, 3});
  shape.padOddData = false;
  shape.dataSize = 1000;
  HeaderReading r = parse(test::buildWav(shape));
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
  HeaderReading r = parse(test::buildWav(shape));
  EXPECT_EQ(r.status, HeaderStatus::kUnsupported);
  EXPECT_EQ(r.sampleFrames, 0);
  EXPECT_EQ(r.lines.find("Length of file"), std::string::npos);
}

TEST(WavHeaderReader, FourGigabyteSizesStayUnsigned) {
  WavShape shape;
  shape.data = test::pcm16({0, 0});
  shape.dataSize = 0xF0000000u;
  HeaderReading r = parse(test::buildWav(shape));
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
    ProgramState state;
    state.lineBreak = CRLF;
    state.filePaths = {path};
    ScriptedHost view;
    ReadWavHeader(state, 0, true, realFileSystem(), view);
    EXPECT_NE(state.headerStatus, HeaderStatus::kUnreadable);
    auto it = positions.find(baseNameOf(path));
    if (it == positions.end()) continue;
    if (it->second < 0) {
      EXPECT_EQ(state.headerStatus, HeaderStatus::kNoDataChunk);
    } else {
      EXPECT_NE(state.headerStatus, HeaderStatus::kNoDataChunk);
      EXPECT_EQ(state.dataOffset, it->second + 8);
    }
  }
}

}  // namespace
}  // namespace ril
