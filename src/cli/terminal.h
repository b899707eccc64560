// The command-line tool's side of the core's interfaces: a progress bar on a
// terminal, and messages as lines.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/host.h"

namespace ril::cli {

// The standard output and error of the calling thread: the process's, or,
// while a worker of a many-file run works on a file, that file's own
// captured output (see file_runs.h).
std::FILE* outStream();
std::FILE* errStream();
// Whether the calling thread's output is captured (no terminal to ask or to
// draw a bar on).
bool outputCaptured();
// Makes `out` and `err` the calling thread's streams; nullptr for the process's.
void captureOutput(std::FILE* out, std::FILE* err);

// A bar on stderr while a pass runs, when stderr is a terminal; nothing
// otherwise.
class ProgressBar : public ProgressSink {
 public:
  ProgressBar();
  void progress(double fraction, const std::string& text) override;
  void progressDone(const std::string& text) override;
  void yield() override {}
  void clear();  // takes the bar off the line, so that a message can follow

 private:
  bool enabled_;
  bool shown_ = false;
};

// Progress nobody sees.
class SilentProgress : public ProgressSink {
 public:
  void progress(double, const std::string&) override {}
  void progressDone(const std::string&) override {}
  void yield() override {}
};

// Messages as lines: notices on stdout, everything else on stderr, each
// prefixed with its title ("Warning: ..."). A question is asked on the
// terminal, and answered No when there is none.
class TerminalMessages : public MessageSink {
 public:
  explicit TerminalMessages(ProgressBar& bar) : bar_(bar) {}
  Answer show(const Message& message) override;

  // File names the messages may hold, shown escaped (see withShownNames).
  std::vector<std::string> names;

 private:
  Answer ask(const Message& message);
  ProgressBar& bar_;
};

// Prints `message` as TerminalMessages does, the file `names` in it escaped.
void printMessage(const Message& message, const std::vector<std::string>& names = {});

// A file name as text output shows it: control characters (C0, DEL and
// C1), bytes that are not UTF-8, and the backslash escaped as `ls -b` does
// ("\n", "\033", "\\"), so that a name can neither move the cursor nor
// begin a line of its own. Other characters stay as they are.
std::string shownName(std::string_view name);

// `text` with every occurrence of each of `names` shown escaped.
std::string withShownNames(std::string text, const std::vector<std::string>& names);

}  // namespace ril::cli
