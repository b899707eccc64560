#include "support/test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ril::test {

void putLe16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void putLe32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

static void putId(Bytes& out, const std::string& id) {
  for (int i = 0; i < 4; ++i) out.push_back(i < static_cast<int>(id.size()) ? id[i] : ' ');
}

static void putChunk(Bytes& out, const Chunk& c) {
  putId(out, c.id);
  putLe32(out, static_cast<std::uint32_t>(c.body.size()));
  out.insert(out.end(), c.body.begin(), c.body.end());
  if (c.body.size() % 2) out.push_back(0);
}

Bytes buildWav(const WavShape& s) {
  Bytes out;
  putId(out, s.rf64 ? "RF64" : "RIFF");
  putLe32(out, 0);  // patched below
  putId(out, "WAVE");
  const std::uint64_t dataSize = s.dataSize.value_or(static_cast<std::uint32_t>(s.data.size()));
  if (s.rf64) {
    Bytes ds64(28, 0);  // RIFF size (patched below), data size, sample count, no table
    for (int i = 0; i < 8; ++i) ds64[8 + i] = static_cast<unsigned char>(dataSize >> (8 * i));
    putChunk(out, {"ds64", ds64});
  }
  for (const Chunk& c : s.firstChunks) putChunk(out, c);
  putId(out, "fmt ");
  putLe32(out, s.fmtLength.value_or(static_cast<std::uint32_t>(16 + s.fmtExtra.size())));
  std::int16_t align =
      s.blockAlign.value_or(static_cast<std::int16_t>(s.channels * s.bitsPerSample / 8));
  putLe16(out, static_cast<std::uint16_t>(s.formatTag));
  putLe16(out, static_cast<std::uint16_t>(s.channels));
  putLe32(out, static_cast<std::uint32_t>(s.sampleRate));
  putLe32(out, static_cast<std::uint32_t>(s.byteRate.value_or(align * s.sampleRate)));
  putLe16(out, static_cast<std::uint16_t>(align));
  putLe16(out, static_cast<std::uint16_t>(s.bitsPerSample));
  out.insert(out.end(), s.fmtExtra.begin(), s.fmtExtra.end());
  for (const Chunk& c : s.before) putChunk(out, c);
  putId(out, "data");
  putLe32(out, s.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dataSize));
  out.insert(out.end(), s.data.begin(), s.data.end());
  if (s.padOddData && s.data.size() % 2) out.push_back(0);
  for (const Chunk& c : s.after) putChunk(out, c);
  std::uint32_t riff =
      s.riffSize.value_or(s.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(out.size() - 8));
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>((riff >> (8 * i)) & 0xFF);
  if (s.rf64) {
    for (int i = 0; i < 8; ++i)
      out[20 + i] = static_cast<unsigned char>((out.size() - 8) >> (8 * i));
  }
  return out;
}

Bytes pcm16(const std::vector<std::int16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (std::int16_t v : samples) putLe16(out, static_cast<std::uint16_t>(v));
  return out;
}

Bytes pcm8(const std::vector<std::uint8_t>& samples) {
  return Bytes(samples.begin(), samples.end());
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "rilmaton-test-XXXXXX").string();
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDirectory(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> corpusDirectory() {
  const char* env = std::getenv("RIL_CORPUS");
  std::string dir = env ? env : std::string(RIL_SOURCE_DIR) + "/../shared/corpus";
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return dir + "/";
}

std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  auto dir = corpusDirectory();
  if (!dir) return files;
  for (const auto& e : std::filesystem::directory_iterator(*dir)) {
    std::string name = e.path().filename().string();
    if (name.size() > 4 && name.substr(name.size() - 4) == ".wav")
      files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string builtProgram(const std::string& name) {
  return std::string(RIL_BINARY_DIR) + "/" + name;
}

CommandResult runCommand(const std::string& command) {
  TempDir tmp;
  std::string full = "(" + command + ") >" + tmp.file("out") + " 2>" + tmp.file("err");
  int rc = std::system(full.c_str());
  CommandResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  Bytes out = readFile(tmp.file("out"));
  Bytes err = readFile(tmp.file("err"));
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

}  // namespace ril::test
