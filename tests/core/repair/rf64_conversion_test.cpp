// Files past 4 GiB whose 32-bit sizes wrapped become RF64 files: sparse files
// of 5 GiB, so the tests cost no disk, and their holes stay holes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/repair/repair_run.h"
#include "core/repair/repair_text.h"
#include "core/wav/wav_header_reader.h"
#include "properties/repair_properties.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;

constexpr std::uint64_t kDataSize = std::uint64_t{5} << 30;
constexpr std::size_t kWindow = 65536;
const Bytes kId3{'i', 'd', '3', ' ', 10, 0, 0, 0, 'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};

Bytes noise(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(0x80 | (i * 131));
  return bytes;
}

Bytes readAt(const std::string& path, std::uint64_t offset, std::size_t count) {
  Bytes bytes(count);
  const int fd = ::open(path.c_str(), O_RDONLY);
  const ssize_t got = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
  ::close(fd);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

void writeAt(const std::string& path, std::uint64_t offset, const Bytes& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

std::uint64_t lengthOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A 16-bit stereo recording of 5 GiB with its sizes wrapped, noise at both
// ends of the audio and an id3 chunk after it; with a JUNK chunk reserving
// room for a ds64 chunk, or without.
std::string writeWrapped(const test::TempDir& dir, bool junk) {
  test::WavShape s;
  if (junk) s.firstChunks = {{"JUNK", Bytes(28, 0)}};
  s.data = noise(4096);
  s.dataSize = kDataSize & 0xFFFFFFFF;
  const std::uint64_t start = (junk ? 80 : 44), length = start + kDataSize + kId3.size();
  s.riffSize = static_cast<std::uint32_t>((length - 8) & 0xFFFFFFFF);
  const std::string path = dir.file(junk ? "junk.wav" : "plain.wav");
  test::writeFile(path, buildWav(s));
  writeAt(path, start + kDataSize - 4096, noise(4096));
  writeAt(path, start + kDataSize, kId3);
  EXPECT_EQ(lengthOf(path), length);
  return path;
}

// The plan seen through the first `window` bytes of the file.
RepairPlan headOf(RepairPlan plan, std::uint64_t window) {
  plan.fileLength = window;
  return plan;
}

void expectFullLength(const std::string& path) {
  const WavHeader h = readWavFile(realFileSystem(), path).header;
  EXPECT_TRUE(h.findings.sizesFromDs64);
  EXPECT_EQ(h.layout.dataSize, kDataSize);
  EXPECT_EQ(h.layout.trailerLength, static_cast<std::int64_t>(kId3.size()));
  // SoX reads the whole file to count its frames (a minute for 5 GiB), so
  // FFmpeg alone checks these; SoX checks the smaller repairs.
  if (test::runCommand("command -v ffprobe").status != 0) {
    GTEST_SKIP() << "ffprobe is not installed: the length is not checked";
  }
  EXPECT_EQ(test::runCommand("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 '" +
                             path + "'")
                .out,
            std::to_string(kDataSize / 4) + "\n");
}

TEST(Rf64ConversionTest, AJunkChunkBeforeTheFormatTakesTheDs64ChunkInPlace) {
  test::TempDir dir;
  const std::string path = writeWrapped(dir, true);
  const Bytes head = readAt(path, 0, kWindow),
              tail = readAt(path, lengthOf(path) - kWindow, kWindow);
  const RepairPlan plan = planFileRepair(realFileSystem(), path);
  ASSERT_EQ(plan.verdict, RepairVerdict::kRepair) << planLines(plan).front();
  std::vector<std::string> fields;
  for (const FieldChange& c : plan.changes) fields.push_back(c.field);
  EXPECT_EQ(fields,
            (std::vector<std::string>{"ds64 RIFF size", "ds64 data size", "ds64 sample count",
                                      "ds64 table length", "chunk identifier", "data size",
                                      "RIFF size", "RIFF identifier"}));
  ScriptedHost host;
  RepairServices services{.fs = realFileSystem(), .progress = host};
  services.placement = RepairPlacement::kInPlace;
  ASSERT_EQ(applyRepair(path, plan, services).outcome, RepairOutcome::kRepaired);
  EXPECT_EQ(properties::unplannedDifference(head, readAt(path, 0, kWindow), headOf(plan, kWindow)),
            "");
  EXPECT_EQ(readAt(path, lengthOf(path) - kWindow, kWindow), tail);
  EXPECT_EQ(planFileRepair(realFileSystem(), path).verdict, RepairVerdict::kNothingToRepair);
  expectFullLength(path);
}

TEST(Rf64ConversionTest, WithoutRoomTheDs64ChunkIsInsertedInANewFileThatKeepsTheHoles) {
  test::TempDir dir;
  const std::string path = writeWrapped(dir, false);
  const std::uint64_t length = lengthOf(path);
  const Bytes head = readAt(path, 0, kWindow), tail = readAt(path, length - kWindow, kWindow);
  const RepairPlan plan = planFileRepair(realFileSystem(), path);
  ASSERT_TRUE(plan.insertsBytes());
  ScriptedHost host;
  RepairServices services{.fs = realFileSystem(), .progress = host};
  services.placement = RepairPlacement::kInPlace;
  EXPECT_EQ(applyRepair(path, plan, services).refusal,
            "an in-place repair cannot insert bytes: its 64-bit sizes need a ds64 chunk of 36 "
            "bytes after the RIFF header, and no JUNK chunk of 28 bytes or more reserves that "
            "room");
  services.placement = RepairPlacement::kBesideOriginal;
  ASSERT_EQ(applyRepair(path, plan, services).outcome, RepairOutcome::kRepaired);

  EXPECT_EQ(lengthOf(path), length + 36);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, std::uint64_t{16} << 20);
  EXPECT_EQ(readAt(path + ".old", 0, kWindow), head);
  EXPECT_EQ(
      properties::unplannedDifference(head, readAt(path, 0, kWindow + 36), headOf(plan, kWindow)),
      "");
  EXPECT_EQ(readAt(path, length + 36 - kWindow, kWindow), tail);
  EXPECT_EQ(planFileRepair(realFileSystem(), path).verdict, RepairVerdict::kNothingToRepair);
  expectFullLength(path);
}

}  // namespace
}  // namespace ril
