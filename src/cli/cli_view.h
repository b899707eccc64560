// The main window's part for the command-line tool: window lines go to stderr.
#pragma once

#include <cstdio>
#include <string>

#include "core/base/host.h"

namespace ril::cli {

class CliView : public MainView {
 public:
  void setReportText(const std::string& text) override { report_ = text; }
  std::string reportViewText() const override { return report_; }
  void printLine(const std::string& line) override {
    std::fprintf(stderr, "warning: %s\n", line.c_str());
  }
  void repaintNow() override {}
  void setCaption(const std::string&) override {}
  void yieldToEvents() override {}

 private:
  std::string report_;
};

// CR LF to LF.
inline std::string toUnixLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace ril::cli
