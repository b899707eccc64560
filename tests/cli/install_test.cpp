// `make install` as a new user meets it: rilmaton-cli on the PATH, its man
// page and its bash completion, installed into a prefix of the test's own.
#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "support/test_support.h"

namespace ril {
namespace {

using test::CommandResult;

std::string textOf(const std::string& path) {
  const test::Bytes bytes = test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The option names in a help text: "-x" and "--name" after a blank, "[" or "|"
// (not numbers such as "-23").
std::vector<std::string> optionsIn(const std::string& help) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i + 1 < help.size(); ++i) {
    const bool starts =
        help[i] == '-' && (i == 0 || std::string(" [|\n").find(help[i - 1]) != std::string::npos);
    if (!starts) continue;
    std::size_t end = i + 1;
    while (end < help.size() &&
           (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-')) {
      ++end;
    }
    // A number such as -23 or -1.0 is no option; -0 is.
    const bool number = std::isdigit(static_cast<unsigned char>(help[i + 1])) &&
                        (end > i + 2 || (end < help.size() && help[end] == '.'));
    if (end > i + 1 && help[end - 1] != '-' && !number) names.push_back(help.substr(i, end - i));
    i = end;
  }
  return names;
}

// The words `rilmaton-cli COMMAND-LINE` completes to.
std::string completed(const std::string& completion, const std::string& words) {
  return test::runCommand("bash -c 'source \"" + completion + "\"; COMP_WORDS=(" + words +
                          "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _rilmaton_cli; "
                          "echo \"${COMPREPLY[*]}\"'")
      .out;
}

TEST(InstallTest, InstallPutsTheToolOnThePathWithItsManPageAndCompletion) {
  test::TempDir prefix;
  const CommandResult install = test::runCommand("cmake --install '" + std::string(RIL_BINARY_DIR) +
                                                 "' --prefix '" + prefix.path() + "'");
  ASSERT_EQ(install.status, 0) << install.err;
  const CommandResult version =
      test::runCommand("PATH='" + prefix.path() + "bin' rilmaton-cli --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("rilmaton-cli ", 0), 0u);

  const std::string completion = prefix.path() + "share/bash-completion/completions/rilmaton-cli";
  EXPECT_EQ(completed(completion, "rilmaton-cli mo"), "modify\n");
  // Every option a command's help names is completed.
  const std::string cli = "'" + test::builtProgram("rilmaton-cli") + "'";
  for (const std::string command : {"report", "modify", "cue", "repair"}) {
    SCOPED_TRACE(command);
    const std::string help = test::runCommand(cli + " " + command + " --help").out;
    const std::string offered = " " + completed(completion, "rilmaton-cli " + command + " -");
    for (const std::string& name : optionsIn(help)) {
      EXPECT_NE(offered.find(" " + name + " "), std::string::npos) << name << offered;
    }
  }

  const std::string manPage = prefix.path() + "share/man/man1/rilmaton-cli.1";
  if (test::runCommand("command -v help2man").status != 0) {
    GTEST_SKIP() << "help2man is not installed: the build makes no man page";
  }
  const std::string man = textOf(manPage);
  for (const char* text :
       {"REPORT COMMAND", "MODIFY COMMAND", "CUE COMMAND", "REPAIR COMMAND", "files\\-from"}) {
    EXPECT_NE(man.find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace ril
