// A host without windows: records what the processing code shows and answers
// message boxes from a script. Used by tests and the command-line tool.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/base/host.h"

namespace ril {

class ScriptedHost : public MainView, public ModifyView, public MessageHost {
 public:
  // MessageHost: records the message, answers with the next scripted answer,
  // or with the message's default button when the script is empty.
  MsgAnswer show(const Message& message) override;

  // ProgressHost (caption of whichever window this host stands for).
  void setCaption(const std::string& caption) override;
  void yieldToEvents() override;

  // MainView.
  void setReportText(const std::string& text) override { report = text; }
  std::string reportViewText() const override { return report; }
  void printLine(const std::string& line) override;
  void repaintNow() override { ++repaints; }

  // ModifyView.
  bool emphasisChecked() override { return emphasis; }

  std::deque<MsgAnswer> answers;      // script for message boxes
  std::vector<Message> messages;      // every message shown
  std::vector<std::string> captions;  // every caption set
  std::vector<std::string> printed;   // every window line drawn
  std::string caption;
  std::string report;
  int yields = 0;
  int repaints = 0;
  bool emphasis = false;
  std::function<void()> onYield;                        // runs inside each yield
  std::function<void(const Message&)> onMessage;        // runs for each message
  std::function<void(const std::string&)> onPrintLine;  // runs for each window line
};

}  // namespace ril
