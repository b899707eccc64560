// Line breaks: the report and the messages end their lines in CR LF; a
// terminal, a file for scripts and a text widget want LF.
#pragma once

#include <string>

namespace ril {

inline constexpr const char* kLineBreak = "\r\n";

// CR LF to LF; any other byte, a lone CR in a file name too, stays.
inline std::string toUnixLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace ril
