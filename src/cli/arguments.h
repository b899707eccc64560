// The one argument parser of rilmaton-cli's commands: flags, options with a
// value ("--name VALUE", "--name=VALUE", or "-x VALUE" and "-xVALUE" for a
// short one), "--" to end the options, and the operands in between. An
// option given again is handled again (lists, or the last value wins).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace ril::cli {

// Prints "rilmaton-cli COMMAND: WHAT" and "Try 'rilmaton-cli --help'." on
// `to`, stderr by default (the help itself would hide the one line that
// matters); returns 2, the status of a usage error.
int printUsageError(const std::string& command, const std::string& what, std::FILE* to = stderr);

class Arguments {
 public:
  // `command` names the command in error messages ("modify").
  explicit Arguments(std::string command) : command_(std::move(command)) {}

  // A flag, under one or more names ("--help", "-h").
  void flag(std::vector<std::string> names, bool& target);
  // An option with a value; `handle` returns an error text, or empty when the
  // value is good. `valueName` names the value in errors ("a PERCENT").
  void option(std::vector<std::string> names, std::string valueName,
              std::function<std::string(const std::string&)> handle);

  // Parses argv[1..argc) (argv[0] is the command). False on a usage error,
  // which error() then describes.
  bool parse(int argc, char** argv);
  // parse() with --help and -h added: they print `usage` on stdout (status
  // 0), a usage error is printed as printUsageError() does (status 2). Returns -1
  // when the command is to go on.
  int parseOrExit(int argc, char** argv, const char* usage);
  // Prints the usage error WHAT as printUsageError() does; returns 2.
  int usageError(const std::string& what) const { return printUsageError(command_, what); }
  // The option --threads N (1 to 64): how many threads share the work on one
  // file. `threads` keeps its value when the option is absent.
  void threadsOption(int& threads);
  // The options --output OUT and --output-dir DIR into `output` and
  // `outputDir`; `outputGiven` notes --output.
  void outputOptions(std::string& output, bool& outputGiven, std::string& outputDir);

  const std::vector<std::string>& operands() const { return operands_; }
  const std::string& error() const { return error_; }

 private:
  struct Option {
    std::vector<std::string> names;
    bool takesValue = false;
    std::string valueName;
    bool* flag = nullptr;
    std::function<std::string(const std::string&)> handle;
  };
  const Option* find(const std::string& name) const;
  bool fail(std::string error);

  std::string command_;
  std::vector<Option> options_;
  std::vector<std::string> operands_;
  std::string error_;
  bool help_ = false;
};

}  // namespace ril::cli
