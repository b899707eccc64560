// Helpers for tests: WAV files built in code, temporary directories, the corpus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ril::test {

using Bytes = std::vector<unsigned char>;

struct Chunk {
  std::string id;  // 4 characters
  Bytes body;      // a pad byte is added when the body is odd
};

// A WAV file described field by field; every field can be set to a wrong value.
struct WavShape {
  std::int16_t formatTag = 1;
  std::int16_t channels = 2;
  std::int32_t sampleRate = 44100;
  std::int16_t bitsPerSample = 16;
  std::optional<std::int32_t> byteRate;    // default blockAlign * rate
  std::optional<std::int16_t> blockAlign;  // default channels * bits / 8
  std::optional<std::uint32_t> riffSize;   // default file length - 8
  Bytes fmtExtra;                          // bytes after the 16 PCM bytes
  std::optional<std::uint32_t> fmtLength;  // default 16 + fmtExtra.size()
  std::vector<Chunk> before;               // chunks between fmt and data
  std::vector<Chunk> firstChunks;          // chunks before fmt
  Bytes data;                              // sample bytes
  std::optional<std::uint64_t> dataSize;   // default data.size(); whole in an RF64 ds64
  std::vector<Chunk> after;                // chunks after data
  bool padOddData = true;
  // An RF64 file: a ds64 chunk first holds the sizes, the 32-bit RIFF and
  // data sizes hold 0xFFFFFFFF.
  bool rf64 = false;
};

Bytes buildWav(const WavShape& shape);

// Little-endian sample bytes.
Bytes pcm16(const std::vector<std::int16_t>& samples);
Bytes pcm8(const std::vector<std::uint8_t>& samples);
void putLe16(Bytes& out, std::uint16_t v);
void putLe32(Bytes& out, std::uint32_t v);

// A temporary directory removed with everything in it at the end of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // ends in "/"
  std::string file(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);
std::vector<std::string> listDirectory(const std::string& dir);  // names, sorted

// The shared real-world corpus folder, or nothing when it is absent.
std::optional<std::string> corpusDirectory();
std::vector<std::string> corpusFiles();  // full paths, sorted; empty when absent

// Path of a built program in the build directory (rilmaton-cli).
std::string builtProgram(const std::string& name);

// Runs a command through the shell; returns exit status and captures stdout.
struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
CommandResult runCommand(const std::string& command);

}  // namespace ril::test
