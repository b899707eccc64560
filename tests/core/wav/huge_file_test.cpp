// Files beyond 2 GiB: sparse files cost no disk space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/wav/wav_header_reader.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

TEST(HugeFiles, SparseFileOfThreeAndAHalfGigabytesReportsLengthFramesAndTime) {
  test::TempDir dir;
  const std::uint64_t dataSize = 3758096384ull - 44;  // 3.5 GiB file
  test::WavShape shape;
  shape.dataSize = static_cast<std::uint32_t>(dataSize);
  test::Bytes header = test::buildWav(shape);
  std::uint32_t riff = static_cast<std::uint32_t>(dataSize + 36);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  const std::string path = dir.file("huge.wav");
  test::writeFile(path, header);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(dataSize + 44)), 0);

  ProgramState state;
  state.lineBreak = "\r\n";
  state.filePaths = {path};
  ScriptedHost view;
  ReadWavHeader(state, 0, true, realFileSystem(), view);
  EXPECT_EQ(state.headerStatus, HeaderStatus::kReady);
  EXPECT_EQ(state.fileLength, 3758096384ll);
  EXPECT_EQ(state.sampleFrames, static_cast<std::int64_t>(dataSize / 4));
  EXPECT_EQ(state.framesInFile, static_cast<std::int64_t>(dataSize / 4));
  EXPECT_EQ(state.trailerLength, 0);
  // 939524085 frames at 44100 Hz: 21304.4 s = 355 minutes and 4.4 seconds.
  EXPECT_NE(state.reportText.find("Filelength:\t3584.000 MB\r\n"), std::string::npos);
  EXPECT_NE(state.reportText.find("Length of file:\t355:04 (Min:Sec)\r\n"), std::string::npos);
  EXPECT_EQ(state.reportText.find("\r\n4294"),
            std::string::npos);  // sizes agree: no RIFF size line
}

}  // namespace
}  // namespace ril
