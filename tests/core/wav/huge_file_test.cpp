// Files beyond 2 GiB: sparse files cost no disk space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
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

  const WavHeader h = readWavFile(realFileSystem(), path).header;
  const std::string report = headerReportLines(path, h, "\r\n");
  EXPECT_EQ(h.status, HeaderStatus::kReady);
  EXPECT_EQ(h.layout.fileLength, 3758096384ull);
  EXPECT_EQ(h.layout.sampleFrames, static_cast<std::int64_t>(dataSize / 4));
  EXPECT_EQ(h.layout.framesInFile, static_cast<std::int64_t>(dataSize / 4));
  EXPECT_EQ(h.layout.trailerLength, 0);
  // 939524085 frames at 44100 Hz: 21304.4 s = 355 minutes and 4.4 seconds.
  EXPECT_NE(report.find("Filelength:\t3584.000 MB\r\n"), std::string::npos);
  EXPECT_NE(report.find("Length of file:\t355:04 (Min:Sec)\r\n"), std::string::npos);
  EXPECT_EQ(report.find("\r\n4294"), std::string::npos);  // sizes agree: no RIFF size line
}

TEST(HugeFiles, SparseRf64FileOfSixGigabytesTakesItsSizesFromDs64) {
  test::TempDir dir;
  const std::uint64_t dataSize = 6442450944ull;
  test::WavShape shape;
  shape.rf64 = true;
  shape.dataSize = dataSize;
  const std::string path = dir.file("huge.wav");
  test::writeFile(path, test::buildWav(shape));
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(80 + dataSize)), 0);

  const WavHeader h = readWavFile(realFileSystem(), path).header;
  EXPECT_EQ(h.status, HeaderStatus::kReady);
  EXPECT_EQ(h.layout.dataOffset, 80);
  EXPECT_EQ(h.layout.framesInFile, static_cast<std::int64_t>(dataSize / 4));
  EXPECT_EQ(h.layout.trailerLength, 0);
  // 1610612736 frames at 44100 Hz: 36521.9 s = 608 minutes and 41.9 seconds.
  EXPECT_NE(headerReportLines(path, h, "\r\n").find("Length of file:\t608:42 (Min:Sec)\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace ril
