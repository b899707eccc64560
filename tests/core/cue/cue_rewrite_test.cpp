// Writing a sheet back with PRE taken off chosen tracks.
#include "core/cue/cue_rewrite.h"

#include <gtest/gtest.h>

#include "core/cue/cue_reader.h"

namespace ril {
namespace {

CueSheet read(const std::string& text) {
  CueReading r = parseCueSheet(text, "album.cue");
  EXPECT_TRUE(r.sheet) << r.error;
  return r.sheet ? *r.sheet : CueSheet{};
}

TEST(CueRewriteTest, TakingPreOffChangesOnlyTheChosenTracksFlagsLines) {
  const std::string sheet =
      "\xEF\xBB\xBFREM FLAGS PRE in a remark stays\r\n"
      "FILE \"album.wav\" WAVE\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    FLAGS PRE\r\n"
      "    INDEX 01 00:00:00\r\n"
      "  TRACK 02 AUDIO\r\n"
      "    FLAGS DCP PRE\r\n"
      "    INDEX 01 04:00:00\r\n"
      "  TRACK 03 AUDIO\r\n"
      "    FLAGS PRE\r\n"
      "    INDEX 00 08:00:00\r\n"
      "    INDEX 01 08:02:00\r\n"
      "  TRACK 04 AUDIO\r\n"
      "\tflags pre\t4ch  Pre  \n"
      "    INDEX 01 12:00:00";
  const CueSheet s = read(sheet);
  EXPECT_EQ(cueSheetWithoutPre(s, {}), sheet);
  EXPECT_EQ(cueSheetWithoutPre(s, {5, 7}), sheet);
  EXPECT_EQ(cueSheetWithoutPre(s, {2, 3, 4}),
            "\xEF\xBB\xBFREM FLAGS PRE in a remark stays\r\n"
            "FILE \"album.wav\" WAVE\r\n"
            "  TRACK 01 AUDIO\r\n"
            "    FLAGS PRE\r\n"
            "    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    FLAGS DCP\r\n"
            "    INDEX 01 04:00:00\r\n"
            "  TRACK 03 AUDIO\r\n"
            "    INDEX 00 08:00:00\r\n"
            "    INDEX 01 08:02:00\r\n"
            "  TRACK 04 AUDIO\r\n"
            "\tflags\t4ch  \n"
            "    INDEX 01 12:00:00");
}

TEST(CueRewriteTest, AFlagsLineLeftEmptyGoesWithItsLineEndWhereverItStands) {
  // The last line, without a line end; a track with two FLAGS lines.
  const std::string sheet =
      "FILE a.wav WAVE\n TRACK 01 AUDIO\n  FLAGS DCP\n  INDEX 01 00:00:00\n  FLAGS PRE PRE";
  const CueSheet s = read(sheet);
  EXPECT_EQ(s.tracks[0].flagLines, (std::vector<int>{3, 5}));
  EXPECT_EQ(cueSheetWithoutPre(s, {1}),
            "FILE a.wav WAVE\n TRACK 01 AUDIO\n  FLAGS DCP\n  INDEX 01 00:00:00\n");
  const CueReading again = parseCueSheet(cueSheetWithoutPre(s, {1}), "album.cue");
  ASSERT_TRUE(again.sheet);
  EXPECT_EQ(again.sheet->tracks[0].flags, unsigned{kCueFlagDcp});
}

}  // namespace
}  // namespace ril
