#include "core/wav/wav_header_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <tuple>

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
}

TEST(WavHeaderReader, JunkChunkFirstIsAFindingInWordsWithTheEightCharactersLast) {
  WavShape shape;
  shape.firstChunks.push_back({"JUNK", Bytes(4, 0)});
  shape.data = test::pcm16({1, 2});
  Parsed r = parse(test::buildWav(shape));
  ASSERT_FALSE(r.windowLines.empty());
  EXPECT_EQ(r.windowLines[0],
            "A 'JUNK' chunk comes before the format chunk, keeping room for a larger header; the "
            "file is read correctly. (WAVEJUNK)");
}

TEST(WavHeaderReader, FormatFindingsSayWhatIsWrongAndAValidExtensibleFormatHasNone) {
  WavShape ext;
  ext.formatTag = -2;
  ext.channels = 1;
  ext.fmtExtra = {22,   0, 16,   0, 1, 0,    0, 0,    1,    0,   0, 0, 0, 0,  // sub-format PCM
                  0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  ext.data = test::pcm16({1, 2});
  Parsed e = parse(test::buildWav(ext));
  EXPECT_TRUE(e.windowLines.empty());
  EXPECT_EQ(e.status, HeaderStatus::kReady);
  EXPECT_EQ(e.dataOffset, 68);

  WavShape flt;
  flt.formatTag = 3;
  flt.bitsPerSample = 32;
  flt.data = Bytes(16, 0);
  Parsed f = parse(test::buildWav(flt));
  EXPECT_TRUE(f.windowLines.empty());
  EXPECT_EQ(f.status, HeaderStatus::kReady);
  EXPECT_NE(f.lines.find("Resolution:\t32 bit float\r\n"), std::string::npos);

  WavShape adpcm;
  adpcm.formatTag = 17;
  adpcm.bitsPerSample = 4;
  adpcm.data = Bytes(16, 0);
  Parsed a = parse(test::buildWav(adpcm));
  EXPECT_EQ(a.windowLines.at(0), "The samples are coded in another way than PCM. (format tag 17)");
  EXPECT_EQ(a.status, HeaderStatus::kUnsupported);
  EXPECT_NE(a.lines.find("it cannot decode: IMA ADPCM (format tag 17)"), std::string::npos);

  WavShape shortFmt;
  shortFmt.fmtLength = 14;
  Parsed s = parse(test::buildWav(shortFmt));
  EXPECT_EQ(s.windowLines.at(0),
            "The format chunk is shorter than the 16 bytes a format needs; its last fields are "
            "taken from the bytes behind it. (format chunk of 14 bytes)");
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
  EXPECT_NE(f.lines.find("Nr of channels:\t4\r\n"), std::string::npos);
  EXPECT_EQ(f.status, HeaderStatus::kReady);
  four.channels = 65;
  four.data = Bytes(130, 0);
  EXPECT_EQ(parse(test::buildWav(four)).status, HeaderStatus::kUnsupported);

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

  // Seconds that round up to 60 carry into the minutes; below the half they do not.
  WavShape s;
  s.channels = 1;
  s.bitsPerSample = 8;
  s.sampleRate = 10;
  for (const auto& [tenths, shown] : std::vector<std::pair<std::size_t, std::string>>{
           {596, "01:00"}, {594, "00:59"}, {1196, "02:00"}, {1205, "02:01"}}) {
    s.data = Bytes(tenths, 128);
    EXPECT_NE(parse(test::buildWav(s)).lines.find("Length of file:\t" + shown + " (Min:Sec)"),
              std::string::npos)
        << tenths;
  }
}

TEST(WavHeaderReader, HeaderInconsistenciesAddTheirValueLines) {
  WavShape shape;
  shape.riffSize = 0xFFFFFFF0u;
  shape.byteRate = 1;
  shape.blockAlign = 3;
  shape.data = test::pcm16({0, 0});
  Bytes bytes = test::buildWav(shape);
  bytes[3] = 'Z';
  Parsed r = parse(bytes, "/p.wav");
  EXPECT_EQ(r.lines,
            joinLines({"Filename:\t/p.wav", "Filelength:\t0.000 MB", "RIFZ", "4294967280",
                       "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t44100 Hz",
                       "Resolution:\t16 bit", "1", "3", "Length of file:\t00:00 (Min:Sec)"}));
}

TEST(WavHeaderReader, AFileOfAnotherKindIsNamedAndShowsNoFormatLines) {
  const std::string q(4, '?');  // bytes that are not printable
  const std::vector<std::tuple<std::string, std::string, std::string>> files = {
      // first bytes, what it is said to be, the bytes shown
      {std::string("FORM\x00\x00\x00\x40"
                   "AIFFCOMM",
                   16),
       " but an AIFF file.", "(FORM AIFFCOMM)"},
      {std::string("fLaC\x00\x00\x00\x22\x10\x00\x10\x01", 12), " but a FLAC file.",
       "(fLaC " + q + "xxxx)"},
      {std::string("ID3\x03\x00\x00\x00\x00\x00\x00\xFF\xFB", 12), " but an MP3 file.",
       "(ID3? " + q + "xxxx)"},
      {std::string("\xFF\xFB\x90\x64"
                   "data\x02\x00\x00\x00",
                   12),
       " but an MP3 file.", "(" + q.substr(1) + "d " + q + "xxxx)"},
      {std::string("RIFF\x00\x00\x00\x40"
                   "AVI LIST",
                   16),
       " but a RIFF file of form 'AVI '.", "(RIFF AVI LIST)"},
      {"gus bogus notes, no data",
       ": it does not begin with a RIFF, RF64 or RIFX header of form WAVE.", "(gus  s notes,)"},
  };
  for (const auto& [start, kind, shown] : files) {
    SCOPED_TRACE(kind);
    Bytes bytes(start.begin(), start.end());
    bytes.resize(200, 'x');
    const Parsed r = parse(bytes, "/a.wav");
    EXPECT_EQ(r.lines, joinLines({"Filename:\t/a.wav", "Filelength:\t0.000 MB",
                                  "This file cannot be analysed: it is not a WAV file" + kind}));
    EXPECT_NE(r.status, HeaderStatus::kReady);
    EXPECT_FALSE(r.header.formatKnown());
    ASSERT_EQ(r.windowLines.size(), 1u);
    EXPECT_EQ(r.windowLines[0], "This is not a WAV file" + kind + " " + shown);
  }
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

// A 16-bit stereo file of two frames, with `change` made to its shape.
Bytes shaped(const std::function<void(WavShape&)>& change) {
  WavShape s;
  s.data = test::pcm16({5, 6, 7, 8});
  change(s);
  return test::buildWav(s);
}

TEST(WavHeaderReader, WalksTheChunksToFormatAndDataAndSearchesBytesOnlyWhereTheWalkBreaks) {
  auto first = [](test::Chunk c) { return shaped([&](WavShape& s) { s.firstChunks = {c}; }); };
  auto extensible = [](Bytes e) {
    return shaped([&](WavShape& s) { s.formatTag = -2, s.fmtExtra = e; });
  };
  // A LIST holding "data", then a chunk at offset 52 that breaks the walk.
  auto broken = [](test::Chunk c) {
    return shaped([&](WavShape& s) { s.before = {{"LIST", {'d', 'a', 't', 'a', 2, 0, 0, 0}}, c}; });
  };
  Bytes sizePastEnd = broken({"big ", Bytes(6, 'x')}), noPad = broken({"odd ", Bytes(5, 'x')});
  sizePastEnd[52 + 6] = 0x10;
  noPad.erase(noPad.begin() + 52 + 13);
  const Bytes pcm = {22, 0, 16, 0, 3,   0, 0, 0,   1, 0,  0,   0,
                     0,  0, 16, 0, 128, 0, 0, 170, 0, 56, 155, 113};
  const Bytes comment = {'I', 'C', 'M', 'T', 6, 0, 0, 0, 'd', 'a', 't', 'a', 9, 9};
  const std::string tag = "The format is extensible but does not name PCM samples. (format tag -2)";
  const auto before = [](const std::string& id, const std::string& why) {
    return "A '" + id + "' chunk comes before the format chunk" + why +
           "; the file is read correctly. (WAVE" + id + ")";
  };
  const std::string noExtension = "its format is extensible (tag -2), but the format chunk lacks";
  const std::vector<std::tuple<Bytes, std::int64_t, std::string, std::string>> cases = {
      // file, dataOffset, warning, reason it is not analysed
      {first({"JUNK", Bytes(28, 0)}), 44 + 36, before("JUNK", ", keeping room for a larger header"),
       ""},
      {first({"bext", Bytes(603, 1)}), 44 + 612,  // odd, with its pad byte
       before("bext", ", as in broadcast WAV files"), ""},
      {first({"LIST", Bytes(26, 'l')}), 44 + 34, before("LIST", ", with tags such as the title"),
       ""},
      {first({"fact", Bytes(4, 0)}), 44 + 12, before("fact", ""), ""},
      {shaped([&](WavShape& s) {
         s.before = {{"LIST", comment}, {"inst", Bytes(7, 'i')}};
       }),
       44 + 22 + 16, "", ""},
      {shaped([](WavShape& s) { s.rf64 = true; }), 44 + 36,
       "The sizes of this RF64 file are in a 'ds64' chunk before the format chunk; the file is "
       "read correctly. (WAVEds64)",
       ""},
      {sizePastEnd, 52 + 14 + 8, "", ""},
      {broken({"\x01\x02zz", Bytes(6, 'x')}), 52 + 14 + 8, "", ""},  // unprintable identifier
      {noPad, 52 + 13 + 8, "", ""},
      {extensible(pcm), 44 + 24, "", ""},
      {extensible({}), 44, tag, noExtension},
      {extensible({0, 0}), 46, tag, noExtension},
  };
  const Parsed twin = parse(shaped([](WavShape&) {}));
  for (const auto& [file, dataOffset, warning, reason] : cases) {
    SCOPED_TRACE(dataOffset);
    const Parsed r = parse(file);
    EXPECT_EQ(r.dataOffset, dataOffset);
    EXPECT_EQ(r.windowLines.empty() ? "" : r.windowLines[0], warning);
    EXPECT_EQ(r.status, reason.empty() ? HeaderStatus::kReady : HeaderStatus::kUnsupported);
    if (reason.empty()) {
      EXPECT_EQ(r.framesInFile, 2);
      EXPECT_EQ(r.lines.substr(r.lines.find("Nr of")), twin.lines.substr(twin.lines.find("Nr of")));
    } else {
      EXPECT_NE(r.lines.find("This file cannot be analysed: " + reason), std::string::npos);
    }
  }
}

// The search behind a broken walk reads the file in pieces of 64 KiB: an
// identifier across the seam between two of them is found all the same, and
// one without its whole size field behind it is no data chunk.
TEST(WavHeaderReader, SearchFindsTheDataChunkAcrossTheReadsSeamsAndNotWithoutItsSize) {
  const auto file = [](std::size_t at, std::size_t length, unsigned char filler) {
    Bytes b = shaped([](WavShape& s) { s.before = {{"big ", Bytes(6, 'x')}}; });
    b.resize(44);
    b[43] = 0x7F;  // the chunk "big " reaches far past the end
    b.resize(length, filler);
    const Bytes data = {'d', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4};
    std::copy_n(data.begin(), std::min(data.size(), length - at), b.begin() + at);
    return b;
  };
  for (const unsigned char filler : {'x', 'd'}) {
    for (const std::size_t at :
         {std::size_t{60}, std::size_t{65532}, std::size_t{65533}, std::size_t{65534},
          std::size_t{65535}, std::size_t{65536}, std::size_t{131071}}) {
      SCOPED_TRACE(std::to_string(at) + " " + static_cast<char>(filler));
      const Parsed r = parse(file(at, at + 12, filler));
      EXPECT_TRUE(r.dataFound);
      EXPECT_EQ(r.dataOffset, static_cast<std::int64_t>(at + 8));
      EXPECT_EQ(r.dataSize, 4u);
    }
    for (const std::size_t tail : {4, 7}) {  // "data" and none or three bytes of its size
      EXPECT_FALSE(parse(file(65534, 65534 + tail, filler)).dataFound);
    }
  }
}

TEST(WavHeaderReader, Rf64ReportsItsFieldsAsTheyStandAndNoDs64SizeOverflows) {
  Parsed r = parse(shaped([](WavShape& s) { s.rf64 = true; }), "/r.wav");
  EXPECT_TRUE(r.header.findings.sizesFromDs64);
  EXPECT_EQ(r.lines, joinLines({"Filename:\t/r.wav", "Filelength:\t0.000 MB", "RF64", "4294967295",
                                "Nr of channels:\t2 (Stereo)", "Sample frequ.:\t44100 Hz",
                                "Resolution:\t16 bit", "Length of file:\t00:00 (Min:Sec)"}));
  Parsed h = parse(shaped([](WavShape& s) {
    s.rf64 = true;
    s.dataSize = ~std::uint64_t{0};
    s.after = {{"LIST", Bytes(4, 'x')}};
  }));
  EXPECT_EQ(h.framesInFile, 2 + 3);
  EXPECT_LT(h.trailerLength, 0);
}

TEST(WavHeaderReader, AFileThatIsNotWaveOrHasNoFormatChunkSaysWhyAndIsNotAnalysed) {
  Bytes noFormat = shaped([](WavShape& s) { s.firstChunks = {{"JUNK", Bytes(4, 0)}}; });
  std::memcpy(noFormat.data() + 24, "fmX ", 4);
  EXPECT_NE(parse(noFormat).lines.find("No data chuk found!\r\nThis file cannot be analysed: it "
                                       "has no format chunk, so its sample format is unknown.\r\n"),
            std::string::npos);
  const std::string text = "Some notes on the data of my recordings, not a sound.";
  Bytes avi = shaped([](WavShape&) {});
  std::memcpy(avi.data() + 8, "AVI ", 4);
  for (const Bytes& b : {Bytes(text.begin(), text.end()), avi}) {
    Parsed n = parse(b);
    EXPECT_NE(n.status, HeaderStatus::kReady);
    EXPECT_NE(n.lines.find("This file cannot be analysed: it is not a WAV file"),
              std::string::npos);
  }
}

// Every corpus file whose manifest line reads "PCM 2ch 44100Hz 16bit" (or
// "EXTENSIBLE ... sub=PCM") in 8 or 16 bits and one or two channels is
// reported with that format, and analysed when its data chunk ("data(1600)")
// holds frames.
TEST(WavHeaderReader, EveryCorpusPcmFileIsReportedWithItsFormatAndAnalysed) {
  auto dir = test::corpusDirectory();
  if (!dir) GTEST_SKIP() << "the shared corpus folder is absent";
  std::ifstream manifest(*dir + "MANIFEST.tsv");
  int checked = 0;
  for (std::string line; std::getline(manifest, line);) {
    const std::size_t at = line.find("|| "), data = line.find(" data(");
    char kind[32] = {};
    int channels = 0, rate = 0, bits = 0;
    if (at == std::string::npos ||
        std::sscanf(line.c_str() + at + 3, "%31s %dch %dHz %dbit", kind, &channels, &rate, &bits) <
            4 ||
        !(kind == std::string("PCM") || line.find("sub=PCM") != std::string::npos) ||
        (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) {
      continue;
    }
    SCOPED_TRACE(line);
    ++checked;
    const test::AnalysedFile a = test::analyseFile(*dir + line.substr(0, line.find('\t')));
    EXPECT_NE(a.report.find("Nr of channels:\t" + std::to_string(channels) +
                            (channels == 1 ? " (Mono)" : " (Stereo)") + "\r\nSample frequ.:\t" +
                            std::to_string(rate) + " Hz\r\nResolution:\t" + std::to_string(bits) +
                            " bit\r\n"),
              std::string::npos);
    EXPECT_EQ(a.header.status, HeaderStatus::kReady);
    if (data != std::string::npos && std::atol(line.c_str() + data + 6) > 0) {
      EXPECT_GT(a.header.layout.framesInFile, 0);
    }
    EXPECT_EQ(a.analysed(), a.header.layout.framesInFile > 0);
  }
  EXPECT_GE(checked, 30);
  for (const std::string& path : test::corpusFiles()) {
    EXPECT_NE(readWavFile(realFileSystem(), path).header.status, HeaderStatus::kUnreadable) << path;
  }
}

}  // namespace
}  // namespace ril
