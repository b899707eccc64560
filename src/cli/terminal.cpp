#include "cli/terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/base/text.h"

namespace ril::cli {

namespace {
thread_local std::FILE* tOut = nullptr;
thread_local std::FILE* tErr = nullptr;
}  // namespace

std::FILE* outStream() {
  return tOut ? tOut : stdout;
}

std::FILE* errStream() {
  return tErr ? tErr : stderr;
}

bool outputCaptured() {
  return tOut != nullptr;
}

void captureOutput(std::FILE* out, std::FILE* err) {
  tOut = out;
  tErr = err;
}

ProgressBar::ProgressBar() : enabled_(!outputCaptured() && ::isatty(2) == 1) {}

void ProgressBar::progress(double fraction, const std::string& text) {
  if (!enabled_) return;
  const int percent = static_cast<int>(std::floor(fraction * 100.0 + 0.5));
  const int filled = std::clamp(percent, 0, 100) * 40 / 100;
  std::fprintf(stderr, "\r%s [%s%s]", text.c_str(), std::string(filled, '#').c_str(),
               std::string(40 - filled, '.').c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressBar::progressDone(const std::string&) {
  clear();
}

void ProgressBar::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r%60s\r", "");
  std::fflush(stderr);
  shown_ = false;
}

void printMessage(const Message& message) {
  std::string title = message.title;
  if (!title.empty() && title.back() != ':') title += ':';
  std::FILE* to = message.kind == MessageKind::kInformation ? outStream() : errStream();
  std::fprintf(to, "%s %s\n", title.c_str(), toUnixLines(message.text).c_str());
  std::fflush(to);
}

Answer TerminalMessages::show(const Message& message) {
  bar_.clear();
  if (message.kind == MessageKind::kQuestion) return ask(message);
  printMessage(message);
  return Answer::kOk;
}

Answer TerminalMessages::ask(const Message& message) {
  Message shown = message;
  shown.kind = MessageKind::kWarning;  // to stderr
  printMessage(shown);
  if (outputCaptured()) {
    std::fputs("Several files at once: answered No (use --in-place or --output-dir).\n",
               errStream());
    return Answer::kNo;
  }
  if (::isatty(0) != 1 || ::isatty(2) != 1) {
    std::fputs("No terminal to answer the question: answered No (use --in-place or --output).\n",
               stderr);
    return Answer::kNo;
  }
  std::fputs("[Y/n] ", stderr);
  std::fflush(stderr);
  char line[64];
  if (!std::fgets(line, sizeof line, stdin)) return Answer::kNo;
  const char c = line[0];
  return (c == '\n' || c == 'y' || c == 'Y') ? Answer::kYes : Answer::kNo;
}

}  // namespace ril::cli
