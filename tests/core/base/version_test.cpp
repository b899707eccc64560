// One version text everywhere: the help text and the README say the version
// the program reports (the about box and --version take it from version.h).
#include "core/base/version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace ril {
namespace {

std::string sourceFile(const std::string& relative) {
  std::ifstream in(std::string(RIL_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Version, TheHelpTextAndTheReadmeNameTheVersionTheProgramReportsAndNoOther) {
  const std::regex versionLike(R"((\bV|version |Rilmaton )(\d+\.\d+(\.\d+)*))");
  for (const char* file : {"resources/Rilmaton.txt", "README.md"}) {
    SCOPED_TRACE(file);
    const std::string text = sourceFile(file);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find(kVersionText), std::string::npos);
    for (std::sregex_iterator it(text.begin(), text.end(), versionLike), end; it != end; ++it) {
      EXPECT_EQ((*it)[2].str(), kVersionText) << it->str();
    }
  }
}

}  // namespace
}  // namespace ril
