// The words of a cue sheet's line, shared by the reader and the rewriter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ril {

// A run of characters other than blanks and tabs, with where it lies in its line.
struct CueWord {
  std::string_view text;
  std::size_t begin = 0;
  std::size_t end = 0;  // one past its last character
};

std::vector<CueWord> splitCueWords(std::string_view line);

// ASCII letters in capitals, every other byte as it is.
std::string upperCase(std::string_view text);

// The flag a FLAGS word stands for (DCP, 4CH, PRE, SCMS in any case), or 0.
unsigned cueFlagOf(std::string_view word);

// What follows FILE: a name in quotes (running to the last quote of the line)
// or without (all words but the last), then the type. Returns an error text,
// or empty when both were found.
std::string splitFileOperands(std::string_view rest, std::string& name, std::string& type);

}  // namespace ril
