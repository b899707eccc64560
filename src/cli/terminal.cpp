#include "cli/terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

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

void printMessage(const Message& message, const std::vector<std::string>& names) {
  std::string title = message.title;
  if (!title.empty() && title.back() != ':') title += ':';
  std::FILE* to = message.kind == MessageKind::kInformation ? outStream() : errStream();
  const std::string text = withShownNames(toUnixLines(message.text), names);
  std::fprintf(to, "%s %s\n", title.c_str(), text.c_str());
  std::fflush(to);
}

Answer TerminalMessages::show(const Message& message) {
  bar_.clear();
  if (message.kind == MessageKind::kQuestion) return ask(message);
  printMessage(message, names);
  return Answer::kOk;
}

Answer TerminalMessages::ask(const Message& message) {
  Message shown = message;
  shown.kind = MessageKind::kWarning;  // to stderr
  printMessage(shown, names);
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
  // An empty answer is No: the file is overwritten only when asked for.
  std::fputs("[y/N] ", stderr);
  std::fflush(stderr);
  char line[64];
  if (!std::fgets(line, sizeof line, stdin)) return Answer::kNo;
  const char c = line[0];
  return (c == 'y' || c == 'Y') ? Answer::kYes : Answer::kNo;
}

namespace {

// The length of the valid UTF-8 sequence at `s[i]`, or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

std::string shownName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    const std::size_t n = c >= 0x80 ? utf8Length(name, i) : 1;
    // U+0080 to U+009F are control characters as well.
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0;
    if (n > 1 && !c1) {
      out.append(name.substr(i, n));
      i += n;
      continue;
    }
    for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k, ++i) {
      const auto b = static_cast<unsigned char>(name[i]);
      static const char* const kNamed[] = {"\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
      if (b == '\\') {
        out += "\\\\";
      } else if (b >= 0x07 && b <= 0x0D) {
        out += kNamed[b - 0x07];
      } else if (b < 0x20 || b >= 0x7F) {
        char text[8];
        std::snprintf(text, sizeof text, "\\%03o", b);
        out += text;
      } else {
        out += static_cast<char>(b);
      }
    }
  }
  return out;
}

std::string withShownNames(std::string text, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string shown = shownName(name);
    if (name.empty() || shown == name) continue;
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + shown.size())) {
      text.replace(at, name.size(), shown);
    }
  }
  return text;
}

}  // namespace ril::cli
