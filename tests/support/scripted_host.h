// A host without windows: records what the core shows and answers messages
// from a script.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/base/host.h"

namespace ril {

class ScriptedHost : public MessageSink, public ProgressSink {
 public:
  // Records the message and answers with the next scripted answer, or with
  // the message's default answer when the script is empty.
  Answer show(const Message& message) override;

  // Progress texts are kept as captions; the end of a pass adds its text too.
  void progress(double fraction, const std::string& text) override;
  void progressDone(const std::string& text) override;
  void yield() override;

  std::deque<Answer> answers;         // script for messages
  std::vector<Message> messages;      // every message shown
  std::vector<std::string> captions;  // every progress text, and each pass's closing text
  std::vector<double> fractions;      // every progress fraction
  std::string caption;                // the last of them
  int yields = 0;
  std::function<void()> onYield;                  // runs inside each yield
  std::function<void(const Message&)> onMessage;  // runs for each message
};

}  // namespace ril
