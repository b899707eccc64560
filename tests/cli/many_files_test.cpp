// rilmaton-cli over many files, as scripts drive it: the JSON report against
// the text report, the files' order under --jobs, the ways of naming files,
// the album's one factor and the output a script can rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "support/test_support.h"

namespace ril {
namespace {

using Json = nlohmann::json;
using test::Bytes;
using test::CommandResult;
using test::TempDir;

std::string cli() {
  return "'" + test::builtProgram("rilmaton-cli") + "'";
}

// A noisy recording that often sits at full scale, and a silent one.
Bytes recording(int channels, int bits, std::int32_t rate, int frames, bool silent,
                std::uint32_t seed) {
  std::mt19937 rng(seed);
  test::WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.sampleRate = rate;
  for (int i = 0; i < frames * channels; ++i) {
    const int v = silent ? 0 : std::clamp(static_cast<int>(rng() % 90000) - 45000, -32768, 32767);
    if (bits == 8) {
      s.data.push_back(static_cast<unsigned char>(v / 256 + 128));
    } else {
      test::putLe16(s.data, static_cast<std::uint16_t>(v));
    }
  }
  return test::buildWav(s);
}

std::string textOf(const std::string& path) {
  const Bytes bytes = test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<Json> jsonLines(const std::string& out) {
  std::vector<Json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  return lines;
}

std::string fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return std::string(text) == "-0.00" ? "0.00" : text;
}

// The text report's line for a channel, from the JSON's figures rounded.
std::string channelLine(int number, const Json& c) {
  return std::to_string(number) + "\t" + fixed(c["minPercent"], 2) + "%\t" +
         fixed(c["minSecond"], 3) + "\t" + fixed(c["maxPercent"], 2) + "%\t" +
         fixed(c["maxSecond"], 3) + "\t" + fixed(c["averagePercent"], 2) + "%\t" +
         fixed(c["rmsPercent"], 2) + "%\n";
}

TEST(ManyFilesTest, JsonFiguresRoundedAreTheTextReportsAtEveryResolutionAndRate) {
  TempDir dir;
  struct Case {
    int channels, bits;
    std::int32_t rate;
    bool silent;
  };
  const Case cases[] = {{2, 16, 44100, false},
                        {1, 8, 44100, false},
                        {1, 16, 48000, false},
                        {2, 8, 22050, false},
                        {2, 16, 44100, true}};
  std::uint32_t seed = 1;
  for (const Case& c : cases) {
    const std::string file = dir.file("f" + std::to_string(seed) + ".wav");
    SCOPED_TRACE(file);
    const Bytes bytes = recording(c.channels, c.bits, c.rate, 30011, c.silent, seed++);
    test::writeFile(file, bytes);
    const CommandResult text = test::runCommand(cli() + " report '" + file + "'");
    const CommandResult json = test::runCommand(cli() + " report --json '" + file + "'");
    ASSERT_EQ(json.status, 0);
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["format"]["sampleRate"], c.rate);
    EXPECT_EQ(j["bytes"], bytes.size());
    ASSERT_EQ(j["channels"].size(), static_cast<std::size_t>(c.channels));
    std::string lines;
    for (int n = 0; n < c.channels; ++n) lines += channelLine(n + 1, j["channels"][n]);
    EXPECT_NE(text.out.find(lines), std::string::npos) << lines << text.out;
    if (c.rate == 44100) {
      std::string deemphasised;
      for (int n = 0; n < c.channels; ++n) {
        deemphasised += channelLine(n + 1, j["deemphasis"]["channels"][n]);
      }
      EXPECT_NE(text.out.find("De-emphasis:\n" +
                              std::string("Channel\tMin\t@ sec.\tMax\t@ sec."
                                          "\tAvg\tRms\n") +
                              deemphasised),
                std::string::npos);
    } else {
      EXPECT_TRUE(j["deemphasis"].is_null());
    }
    const Json& first = j["channels"][0];
    if (c.silent) {
      EXPECT_TRUE(first["peakDbfs"].is_null());
      EXPECT_TRUE(first["rmsDbfs"].is_null());
      EXPECT_TRUE(j["headroom"].is_null());
      continue;
    }
    EXPECT_NE(text.out.find("increased by up to " + fixed(j["headroom"]["reportPercent"], 1)),
              std::string::npos);
    // The samples at the format's extremes, counted here from the bytes.
    std::int64_t extremes = 0;
    for (std::size_t i = 44; i < 44 + 30011u * c.channels * c.bits / 8;
         i += c.bits / 8 * c.channels) {
      const int v =
          c.bits == 8 ? bytes[i] : static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8);
      extremes += c.bits == 8 ? (v == 0 || v == 255) : (v == -32768 || v == 32767);
    }
    EXPECT_EQ(first["fullScaleSamples"], extremes);
    EXPECT_GT(extremes, 1000);
    EXPECT_DOUBLE_EQ(first["peakDbfs"].get<double>(),
                     20 * std::log10(-first["min"].get<double>() / 32768.0));
  }
}

TEST(ManyFilesTest, JobsKeepTheFilesOrderAndAFailureStopsNoOtherFile) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 9; ++i) {
    // Long files first, so that later ones are done sooner.
    files.push_back(dir.file("t" + std::to_string(i) + ".wav"));
    test::writeFile(files.back(), recording(2, 16, 44100, 200000 / (i + 1), false, 50 + i));
  }
  files.insert(files.begin() + 4, dir.file("missing.wav"));
  std::string names;
  for (const std::string& f : files) names += " '" + f + "'";
  const CommandResult one = test::runCommand(cli() + " report --jobs 1" + names);
  const CommandResult four = test::runCommand(cli() + " report -j4" + names);
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(four.status, 1);
  EXPECT_EQ(test::withoutTimes(four.out), test::withoutTimes(one.out));
  EXPECT_EQ(four.err, one.err);
  EXPECT_EQ(four.err, files[4] + ": error: Cannot read the file: File not found (error 53)\n");
  const std::vector<Json> lines =
      jsonLines(test::runCommand(cli() + " report --json --jobs 3" + names).out);
  ASSERT_EQ(lines.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(lines[i]["path"], files[i]);
    EXPECT_EQ(lines[i]["analysed"], i != 4);
  }
  EXPECT_EQ(lines[4]["reason"], "Cannot read the file: File not found (error 53)");
}

std::vector<std::string> pathsOf(const std::string& out) {
  std::vector<std::string> paths;
  for (const Json& line : jsonLines(out)) paths.push_back(line["path"]);
  return paths;
}

TEST(ManyFilesTest, RecursiveAndListsNameTheFilesInAFixedOrder) {
  TempDir dir;
  const std::string root = dir.file("music");
  test::runCommand("mkdir -p '" + root + "/b Disc/x' && ln -s .. '" + root + "/b Disc/x/loop'");
  const Bytes bytes = recording(1, 16, 48000, 100, false, 9);
  for (const char* name : {"B.WAV", "a.wav", "c.Wav", "b Disc/x/d.wav"}) {
    test::writeFile(root + "/" + name, bytes);
  }
  test::writeFile(root + "/notes.txt", Bytes{'h', 'i'});
  const CommandResult walked = test::runCommand(cli() + " report --json -r '" + root + "'");
  EXPECT_EQ(walked.status, 0);
  const std::vector<std::string> want = {root + "/a.wav", root + "/B.WAV", root + "/c.Wav",
                                         root + "/b Disc/x/d.wav"};
  EXPECT_EQ(pathsOf(walked.out), want);

  const CommandResult lines =
      test::runCommand("printf '%s\\n\\n%s\\n' '" + want[2] + "' '" + want[3] + "' | " + cli() +
                       " report --json --files-from - '" + want[0] + "'");
  EXPECT_EQ(pathsOf(lines.out), (std::vector<std::string>{want[0], want[2], want[3]}));
  const CommandResult nul =
      test::runCommand("cd '" + root + "' && find . -iname '*.wav' -print0 | " + cli() +
                       " report --json --files-from - -0");
  EXPECT_EQ(nul.status, 0);
  EXPECT_EQ(pathsOf(nul.out).size(), 4u);
}

// A 16-bit stereo file whose samples are `values` times `scale`, in both channels.
Bytes scaled(const std::vector<int>& values, double scale) {
  std::vector<std::int16_t> samples;
  for (int v : values) {
    samples.push_back(static_cast<std::int16_t>(std::lround(v * scale)));
    samples.push_back(static_cast<std::int16_t>(std::lround(-v * scale)));
  }
  test::WavShape s;
  s.data = test::pcm16(samples);
  return test::buildWav(s);
}

TEST(ManyFilesTest, AlbumScalesEveryFileByTheSmallestSafeFactor) {
  TempDir dir;
  const std::vector<int> values = {100, -200, 300, 4000, -8000, 9000, 12, 0};
  const std::string loud = dir.file("loud.wav"), soft = dir.file("soft.wav");
  test::writeFile(loud, scaled(values, 2.0));  // peak 18000
  test::writeFile(soft, scaled(values, 0.5));  // peak 4500
  test::runCommand("mkdir '" + dir.file("out") + "'");
  const CommandResult r =
      test::runCommand(cli() + " modify --maximize --album --jobs 2 --output-dir '" +
                       dir.file("out") + "' '" + soft + "' '" + loud + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const double factor = 32767.0 / 18000.0;
  EXPECT_EQ(r.out.find("Album factor: " + fixed(factor, 6) + " (182.0%), limited by " + loud), 0u)
      << r.out;
  EXPECT_EQ(test::readFile(dir.file("out/loud.wav")), scaled(values, 2.0 * factor));
  EXPECT_EQ(test::readFile(dir.file("out/soft.wav")), scaled(values, 0.5 * factor));
  EXPECT_EQ(test::readFile(soft), scaled(values, 0.5));
}

TEST(ManyFilesTest, OutputThatChangesNothingIsAnIdenticalCopy) {
  TempDir dir;
  const std::string file = dir.file("full.wav"), out = dir.file("out.wav");
  const Bytes bytes = recording(2, 16, 44100, 5000, false, 4);  // at full scale already
  test::writeFile(file, bytes);
  for (const std::string& settings : {std::string(""), std::string("--volume 300 ")}) {
    SCOPED_TRACE(settings);
    std::remove(out.c_str());
    const CommandResult r =
        test::runCommand(cli() + " modify " + settings + "--output '" + out + "' '" + file + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("an identical copy"), std::string::npos);
    EXPECT_EQ(test::readFile(out), bytes);
  }
}

TEST(ManyFilesTest, TheReadmesArchiveCommandReportsEveryFileOfAnArchive) {
  const std::string command =
      "find archive -iname '*.wav' -print0 | rilmaton-cli report --json --files-from - -0 --jobs "
      "\"$(nproc)\" > reports.ndjson";
  EXPECT_NE(textOf(std::string(RIL_SOURCE_DIR) + "/README.md").find(command + "\n"),
            std::string::npos);
  TempDir dir;
  test::runCommand("mkdir -p '" + dir.file("archive/1999/side a") + "'");
  const std::vector<std::string> names = {"archive/x.WAV", "archive/1999/y.wav",
                                          "archive/1999/side a/z.Wav"};
  for (const std::string& name : names) {
    test::writeFile(dir.file(name), recording(2, 16, 44100, 1000, false, 3));
  }
  const std::string program = test::builtProgram("rilmaton-cli");
  const CommandResult r =
      test::runCommand("cd '" + dir.path() + "' && PATH='" + program.substr(0, program.rfind('/')) +
                       "':\"$PATH\" && " + command);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> paths = pathsOf(textOf(dir.file("reports.ndjson")));
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{names[2], names[1], names[0]}));
}

}  // namespace
}  // namespace ril
