// Every real-world file that can be modified keeps its length and every byte
// outside the whole sample frames; the others are refused untouched.
#include <gtest/gtest.h>

#include "core/modify/modification_run.h"
#include "support/format_reference.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::ModifyHarness;

TEST(ModificationCorpusTest, ModifiableFilesKeepLengthAndEveryNonSampleByte) {
  std::vector<std::string> files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "the shared corpus folder is absent";
  int modified = 0;
  for (const std::string& file : files) {
    for (bool emphasis : {false, true}) {
      SCOPED_TRACE(file + (emphasis ? " with de-emphasis" : ""));
      const Bytes original = test::readFile(file);
      ModifyHarness h;
      h.load(original, baseNameOf(file));  // a copy: the corpus is never written
      if (emphasis && h.target.header.format.sampleRate != 44100) continue;
      h.request.deemphasis = emphasis;
      h.request.volumeTenths = emphasis ? 900 : 500;
      auto before = h.snapshot();
      ModifyResult r = h.run();

      const bool ready =
          h.target.header.hasFrames() && h.target.header.format.sample().modifiable();
      if (!ready) {
        EXPECT_EQ(r.outcome, ModifyOutcome::kRefused);
        EXPECT_EQ(h.snapshot(), before);
        continue;
      }
      ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
      ++modified;
      Bytes out = test::readFile(h.progDir + baseNameOf(file));
      ASSERT_EQ(out.size(), original.size());
      const auto begin = static_cast<std::size_t>(h.target.header.layout.dataOffset);
      const auto end = begin + static_cast<std::size_t>(h.target.header.layout.framesInFile) *
                                   static_cast<std::size_t>(h.target.header.format.frameBytes());
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + begin, original.begin()));
      EXPECT_TRUE(std::equal(out.begin() + end, out.end(), original.begin() + end));
      Bytes samples(original.begin() + begin, original.begin() + end);
      const WavFormat& format = h.target.header.format;
      std::int64_t beyond = 0;
      const double factor = h.request.volumeTenths / 1000.0;
      test::Expected want = format.classic()
                                ? test::expectedOutput(samples, format.channels,
                                                       format.bitsPerSample, factor, emphasis)
                                : test::expectedFormatOutput(samples, format, factor, emphasis, 0.0,
                                                             std::nullopt, beyond);
      EXPECT_EQ(r.samplesBeyondFullScale, beyond);
      EXPECT_TRUE(std::equal(out.begin() + begin, out.begin() + end, want.samples.begin()));
      EXPECT_EQ(test::readFile(h.path() + ".old"), original);
    }
  }
  EXPECT_GT(modified, 10);
}

}  // namespace
}  // namespace ril
