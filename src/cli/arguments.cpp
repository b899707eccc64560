#include "cli/arguments.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ril::cli {

void Arguments::flag(std::vector<std::string> names, bool& target) {
  Option option;
  option.names = std::move(names);
  option.flag = &target;
  options_.push_back(std::move(option));
}

void Arguments::option(std::vector<std::string> names, std::string valueName,
                       std::function<std::string(const std::string&)> handle) {
  Option option;
  option.names = std::move(names);
  option.takesValue = true;
  option.valueName = std::move(valueName);
  option.handle = std::move(handle);
  options_.push_back(std::move(option));
}

void Arguments::threadsOption(int& threads) {
  option({"--threads"}, "a number", [&threads](const std::string& value) {
    constexpr long kMost = 64;
    char* end = nullptr;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || n < 1 || n > kMost) {
      return "--threads needs a number from 1 to " + std::to_string(kMost) + ", not '" + value +
             "'";
    }
    threads = static_cast<int>(n);
    return std::string();
  });
}

void Arguments::outputOptions(std::string& output, bool& outputGiven, std::string& outputDir) {
  option({"--output"}, "a file name", [&](const std::string& value) {
    outputGiven = true;
    output = value;
    return value.empty() ? std::string("--output needs a file name") : std::string();
  });
  option({"--output-dir"}, "a directory", [&](const std::string& value) {
    outputDir = value;
    return value.empty() ? std::string("--output-dir needs a directory") : std::string();
  });
}

const Arguments::Option* Arguments::find(const std::string& name) const {
  for (const Option& option : options_) {
    if (std::find(option.names.begin(), option.names.end(), name) != option.names.end())
      return &option;
  }
  return nullptr;
}

bool Arguments::fail(std::string error) {
  error_ = std::move(error);
  return false;
}

bool Arguments::parse(int argc, char** argv) {
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (optionsDone || a.size() < 2 || a[0] != '-') {
      operands_.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
      continue;
    }
    const std::size_t equals = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
    const std::string name = a.substr(0, equals);
    const Option* option = find(name);
    std::string attached;  // "-j4": a short option with its value
    if (!option && a[1] != '-' && a.size() > 2) {
      option = find(a.substr(0, 2));
      if (option && !option->takesValue) option = nullptr;
      attached = a.substr(2);
    }
    if (!option) return fail("unknown option '" + a + "'");
    if (!option->takesValue) {
      if (equals != std::string::npos) return fail(name + " takes no value");
      *option->flag = true;
      if (option->names.front() == "--help") return true;  // the rest does not matter
      continue;
    }
    std::string value;
    if (!attached.empty()) {
      value = attached;
    } else if (equals != std::string::npos) {
      value = a.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return fail(name + " needs " + option->valueName);
    }
    if (std::string error = option->handle(value); !error.empty()) return fail(error);
  }
  return true;
}

int Arguments::parseOrExit(int argc, char** argv, const char* usage) {
  flag({"--help", "-h"}, help_);
  if (!parse(argc, argv)) return usageError(error_);
  if (help_) {
    std::fputs(usage, stdout);
    return 0;
  }
  return -1;
}

int printUsageError(const std::string& command, const std::string& what, std::FILE* to) {
  std::fprintf(to, "rilmaton-cli %s: %s\nTry 'rilmaton-cli --help'.\n", command.c_str(),
               what.c_str());
  return 2;
}

}  // namespace ril::cli
