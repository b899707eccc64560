#include "core/cue/cue_words.h"

#include "core/cue/cue_sheet.h"

namespace ril {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<CueWord> splitCueWords(std::string_view line) {
  std::vector<CueWord> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (isBlank(line[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    words.push_back(CueWord{line.substr(begin, i - begin), begin, i});
  }
  return words;
}

std::string upperCase(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

unsigned cueFlagOf(std::string_view word) {
  const std::string w = upperCase(word);
  if (w == "DCP") return kCueFlagDcp;
  if (w == "4CH") return kCueFlag4ch;
  if (w == "PRE") return kCueFlagPre;
  if (w == "SCMS") return kCueFlagScms;
  return 0;
}

std::string splitFileOperands(std::string_view rest, std::string& name, std::string& type) {
  const char* const example = "FILE needs a file name and a type, as in FILE \"album.wav\" WAVE";
  rest = trimmed(rest);
  if (rest.empty()) return example;
  std::string_view typePart;
  if (rest.front() == '"') {
    const std::size_t close = rest.rfind('"');
    if (close == 0) return "the file name " + std::string(rest) + " lacks its closing quote";
    name = rest.substr(1, close - 1);
    typePart = trimmed(rest.substr(close + 1));
  } else {
    const std::vector<CueWord> words = splitCueWords(rest);
    if (words.size() < 2) return example;
    name = trimmed(rest.substr(0, words.back().begin));
    typePart = words.back().text;
  }
  if (name.empty()) return "FILE needs a file name";
  const std::vector<CueWord> typeWords = splitCueWords(typePart);
  if (typeWords.size() != 1) {
    return "FILE \"" + name + "\" needs one type after its name (WAVE, BINARY, ...)";
  }
  type = upperCase(typeWords[0].text);
  return {};
}

}  // namespace ril
