// One version text everywhere: the help text and the README say the version
// the program reports (the about box and --version take it from version.h).
#include "core/base/version.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ril {
namespace {

std::string sourceFile(const std::string& relative) {
  std::ifstream in(std::string(RIL_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every "V1.2", "version 1.2" or "Rilmaton 1.2" in `text`: the numbers behind.
std::vector<std::string> versionsNamed(const std::string& text) {
  std::vector<std::string> found;
  for (const std::string prefix : {"V", "version ", "Rilmaton "}) {
    for (std::size_t at = text.find(prefix); at != std::string::npos;
         at = text.find(prefix, at + 1)) {
      std::size_t end = at + prefix.size();
      if (end >= text.size() || !std::isdigit(static_cast<unsigned char>(text[end]))) continue;
      if (at > 0 && std::isalnum(static_cast<unsigned char>(text[at - 1]))) continue;
      const std::size_t start = end;
      while (end < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) {
        ++end;
      }
      while (end > start && text[end - 1] == '.') --end;
      found.push_back(text.substr(start, end - start));
    }
  }
  return found;
}

TEST(Version, TheHelpTextAndTheReadmeNameTheVersionTheProgramReportsAndNoOther) {
  EXPECT_EQ(versionsNamed("Rilmaton V1.11 and version 2.0. but not XV8"),
            (std::vector<std::string>{"1.11", "2.0"}));
  for (const char* file : {"resources/Rilmaton.txt", "README.md"}) {
    SCOPED_TRACE(file);
    const std::string text = sourceFile(file);
    ASSERT_FALSE(text.empty());
    const std::vector<std::string> named = versionsNamed(text);
    EXPECT_FALSE(named.empty());
    for (const std::string& version : named) EXPECT_EQ(version, kVersionText);
  }
}

}  // namespace
}  // namespace ril
