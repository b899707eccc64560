// The cue sheet reader on sheets as rippers write them, and on broken ones.
#include "core/cue/cue_reader.h"

#include <gtest/gtest.h>

#include "core/cue/cue_wav.h"
#include "support/memory_file_system.h"

namespace ril {
namespace {

constexpr std::int64_t kSecond = 44100;  // sample frames
constexpr std::int64_t kCdFrame = 588;

CueSheet read(const std::string& text, const std::string& path = "/music/rip/album.cue") {
  CueReading r = parseCueSheet(text, path);
  EXPECT_TRUE(r.sheet) << r.error;
  return r.sheet ? *r.sheet : CueSheet{};
}

std::vector<std::pair<std::int64_t, std::int64_t>> rangesOf(const CueSheet& s, int file,
                                                            std::int64_t frames) {
  std::vector<std::pair<std::int64_t, std::int64_t>> out;
  for (const CueRange& r : trackRangesIn(s, file, frames))
    out.emplace_back(r.firstFrame, r.frameCount);
  return out;
}

TEST(CueReaderTest, ImageTracksRunFromTheirPregapToTheNextTrack) {
  const CueSheet s = read(
      "REM GENRE Classical\n"
      "PERFORMER \"Orchestra\"\n"
      "TITLE \"Works\"\n"
      "FILE \"Works (1985).wav\" WAVE\n"
      "  TRACK 01 AUDIO\n"
      "    TITLE \"Allegro\"\n"
      "    FLAGS PRE\n"
      "    INDEX 00 00:00:00\n"
      "    INDEX 01 00:00:32\n"
      "  TRACK 02 AUDIO\n"
      "    ISRC DEA168500002\n"
      "    INDEX 01 04:10:20\n"
      "  TRACK 03 AUDIO\n"
      "    FLAGS DCP PRE\n"
      "    PREGAP 00:02:00\n"
      "    INDEX 00 09:00:00\n"
      "    INDEX 01 09:02:01\n"
      "    INDEX 02 10:00:00\n");
  ASSERT_EQ(s.files.size(), 1u);
  EXPECT_EQ(s.files[0].name, "Works (1985).wav");
  EXPECT_EQ(s.files[0].path, "/music/rip/Works (1985).wav");
  EXPECT_TRUE(s.files[0].wave());
  EXPECT_TRUE(s.notes.empty());
  ASSERT_EQ(s.tracks.size(), 3u);
  EXPECT_EQ(s.tracks[0].flags, unsigned{kCueFlagPre});
  EXPECT_FALSE(s.tracks[1].preEmphasis());
  EXPECT_EQ(cueFlagsText(s.tracks[2].flags), "DCP PRE");
  EXPECT_EQ(s.tracks[2].indexes.size(), 3u);
  EXPECT_EQ(s.tracks[2].line, 13);
  EXPECT_EQ(s.tracks[2].flagLines, std::vector<int>{14});
  // 04:10:20 is (250 s x 75 + 20) CD frames; INDEX 00 starts track 3.
  const std::int64_t two = (250 * 75 + 20) * kCdFrame;
  const std::int64_t three = 540 * kSecond;
  EXPECT_EQ(s.tracks[1].spans, (std::vector<CueSpan>{{0, two, three - two}}));
  EXPECT_EQ(s.tracks[2].spans, (std::vector<CueSpan>{{0, three, std::nullopt}}));
  EXPECT_EQ(rangesOf(s, 0, 700 * kSecond),
            (std::vector<std::pair<std::int64_t, std::int64_t>>{
                {0, two}, {two, three - two}, {three, 160 * kSecond}}));
}

TEST(CueReaderTest, PerTrackFilesKeepEachTracksPregapWhereverItLies) {
  // Gaps at the end of the previous file: track 2 starts in 01.wav.
  const CueSheet appended = read(
      "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 00 03:58:40\n"
      "FILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n"
      "  TRACK 03 AUDIO\n    INDEX 00 02:00:00\n"
      "FILE \"03.wav\" WAVE\n    INDEX 01 00:00:00\n",
      "album.cue");
  const std::int64_t gap = (238 * 75 + 40) * kCdFrame;
  EXPECT_EQ(appended.files[1].path, "02.wav");
  EXPECT_EQ(appended.tracks[0].spans, (std::vector<CueSpan>{{0, 0, gap}}));
  EXPECT_EQ(appended.tracks[1].spans,
            (std::vector<CueSpan>{{0, gap, std::nullopt}, {1, 0, 120 * kSecond}}));
  EXPECT_EQ(appended.tracks[1].file(), 1);
  EXPECT_EQ(appended.tracks[2].spans,
            (std::vector<CueSpan>{{1, 120 * kSecond, std::nullopt}, {2, 0, std::nullopt}}));

  // Gaps at the start of their own file: each track is its whole file.
  const CueSheet prepended = read(
      "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:50\n");
  EXPECT_EQ(prepended.tracks[0].spans, (std::vector<CueSpan>{{0, 0, std::nullopt}}));
  EXPECT_EQ(prepended.tracks[1].spans, (std::vector<CueSpan>{{1, 0, std::nullopt}}));
}

TEST(CueReaderTest, TakesOddSheetsAsRippersWriteThem) {
  const std::string text =
      "\xEF\xBB\xBFREM COMMENT \"x\"\r\n"
      "file My Disc.wav wave\r\n"
      "\ttrack 1 audio\r\n"
      "\t\tflags  pre\t4ch \r\n"
      "\t\tindex 1 0:0:0\r\n"
      "  Track 02 MODE1/2352\r\n"
      "    Index 01 123:59:74\r"
      "\r\n"
      "FILE \"../Bonus.bin\"   BINARY  \n"
      "  TRACK 03 AUDIO\n"
      "    INDEX 01 00:00:00\n"
      "  ARRANGER Someone\n"
      "  LYRICIST Someone\n"
      "    ";
  const CueSheet s = read(text, "rips/album.cue");
  EXPECT_TRUE(s.utf8Bom);
  ASSERT_EQ(s.lines.size(), 14u);
  EXPECT_EQ(s.lines[0].text, "REM COMMENT \"x\"");
  EXPECT_EQ(s.lines[0].end, "\r\n");
  EXPECT_EQ(s.lines[6].end, "\r");
  EXPECT_EQ(s.lines[13].end, "");
  ASSERT_EQ(s.files.size(), 2u);
  EXPECT_EQ(s.files[0].name, "My Disc.wav");
  EXPECT_EQ(s.files[0].type, "WAVE");
  EXPECT_EQ(s.files[1].path, "rips/../Bonus.bin");
  EXPECT_FALSE(s.files[1].wave());
  EXPECT_EQ(s.tracks[0].flags, unsigned{kCueFlagPre | kCueFlag4ch});
  EXPECT_FALSE(s.tracks[1].audio());
  EXPECT_EQ(s.tracks[1].indexes[0].time.cdFrames, (123 * 60 + 59) * 75 + 74);
  EXPECT_EQ(s.tracks[1].indexes[0].time.text(), "123:59:74");
  EXPECT_EQ(s.notes, std::vector<std::string>{"rips/album.cue:13: unknown command LYRICIST, kept "
                                              "as it stands"});
}

TEST(CueReaderTest, MalformedSheetsAreRefusedNamingTheLine) {
  const std::string head = "FILE a.wav WAVE\n  TRACK 01 AUDIO\n";
  const std::string one = head + "    INDEX 01 00:00:00\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"FILE a.wav WAVE\n  INDEX 01 00:00:00\n", "a.cue:2: INDEX 01 before any TRACK"},
      {"TRACK 01 AUDIO\n", "a.cue:1: TRACK 01 before any FILE"},
      {head + "    INDEX 01 03:75:00\n",
       "a.cue:3: bad time 03:75:00 (mm:ss:ff, with seconds below 60 and frames below 75)"},
      {head + "    INDEX 01 03:00:75\n",
       "a.cue:3: bad time 03:00:75 (mm:ss:ff, with seconds below 60 and frames below 75)"},
      {head + "    INDEX 01\n", "a.cue:3: INDEX 01 needs a time mm:ss:ff"},
      {one + "  TRACK 01 AUDIO\n    INDEX 01 01:00:00\n",
       "a.cue:4: TRACK numbers must rise: TRACK 01 after TRACK 01"},
      {head + "    INDEX 00 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 01:00:00\n",
       "a.cue:2: TRACK 01 has no INDEX 01"},
      {head + "    INDEX 02 00:00:00\n",
       "a.cue:3: TRACK 01 starts with INDEX 02; its first index is INDEX 00 or INDEX 01"},
      {one + "    INDEX 00 00:10:00\n",
       "a.cue:4: INDEX numbers must rise within TRACK 01: INDEX 00 after INDEX 01"},
      {"FILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 02:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 01 01:59:74\n",
       "a.cue:5: times must rise within a FILE: INDEX 01 at 01:59:74 comes after 02:00:00"},
      {head + "    FLAGS PRE,DCP\n", "a.cue:3: unknown flag PRE,DCP (DCP, 4CH, PRE or SCMS)"},
      {"FLAGS PRE\n", "a.cue:1: FLAGS before any TRACK"},
      {"FILE a.wav WAVE\n  TRACK 100 AUDIO\n", "a.cue:2: bad track number 100 (01 to 99)"},
      {"FILE a.wav WAVE\n  TRACK 01 AUDO\n", "a.cue:2: unknown track mode AUDO"},
      {"FILE a.wav WAVE\n  TRACK 01 AUDIO extra\n",
       "a.cue:2: unexpected extra after TRACK 01 AUDIO"},
      {"FILE \"a.wav WAVE\n", "a.cue:1: the file name \"a.wav WAVE lacks its closing quote"},
      {"FILE \"a.wav\"\n",
       "a.cue:1: FILE \"a.wav\" needs one type after its name (WAVE, BINARY, ...)"},
      {"FILE a.wav\n", "a.cue:1: FILE needs a file name and a type, as in FILE \"album.wav\" WAVE"},
      {one + "FILE b.wav WAVE\n", "a.cue:4: FILE \"b.wav\" holds no INDEX"},
      {one + "FILE ./a.wav WAVE\n", "a.cue:4: FILE \"./a.wav\" names the file of line 1 again"},
      {"REM only\n", "a.cue: no TRACK in the sheet"},
      {"", "a.cue: no TRACK in the sheet"},
      {one + std::string("REM \0\n", 6),
       "a.cue:4: a NUL byte; this is no cue sheet but a binary file"},
      {"\xFF\xFE"
       "F\0I\0",
       "a.cue: written in UTF-16; save it as UTF-8 to have it read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const CueReading r = parseCueSheet(c.text, "a.cue");
    EXPECT_FALSE(r.sheet);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(CueReaderTest, RefusesSheetsItCannotReadOrThatAreTooLarge) {
  MemoryFileSystem fs;
  fs.put("/big.cue", MemoryFileSystem::Bytes(kMaxCueSheetBytes + 1, ' '));
  EXPECT_EQ(readCueSheet(fs, "/big.cue").error,
            "/big.cue: 4194305 bytes, too large for a cue sheet (at most 4194304)");
  EXPECT_EQ(readCueSheet(fs, "/none.cue").error, "/none.cue: cannot be read: File not found");
  const std::string text = "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
  fs.put("/d/a.cue", MemoryFileSystem::Bytes(text.begin(), text.end()));
  const CueReading r = readCueSheet(fs, "/d/a.cue");
  ASSERT_TRUE(r.sheet) << r.error;
  EXPECT_EQ(r.sheet->files[0].path, "/d/a.wav");
}

TEST(CueReaderTest, FileProblemsSayWhyTracksCannotBeModified) {
  const CueSheet s = read(
      "FILE a.wav WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
      "  INDEX 00 00:59:00\n  INDEX 01 01:00:00\nFILE b.bin BINARY\n TRACK 03 AUDIO\n"
      "  INDEX 01 00:00:00\n");
  WavHeader h;
  h.status = HeaderStatus::kReady;
  h.format = WavFormat{1, 2, 16, 44100};
  h.layout.framesInFile = 60 * kSecond;
  EXPECT_EQ(cueFileProblem(s, 0, h), "");
  h.layout.framesInFile = 60 * kSecond - 1;
  EXPECT_EQ(cueFileProblem(s, 0, h),
            "INDEX 01 of TRACK 02 at 01:00:00 (frame 2646000) lies past the end of the data "
            "(2645999 frames)");
  h.format.sampleRate = 48000;
  EXPECT_EQ(cueFileProblem(s, 0, h), "48000 Hz, not 44100 Hz");
  EXPECT_EQ(cueFileProblem(s, 1, h), "a BINARY file, not WAVE");
  WavHeader missing;
  missing.findings.readErrorNumber = 53;
  EXPECT_EQ(cueFileProblem(s, 0, missing), "File not found");
}

}  // namespace
}  // namespace ril
