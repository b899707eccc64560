#include "support/scripted_host.h"

namespace ril {

Answer ScriptedHost::show(const Message& message) {
  messages.push_back(message);
  if (onMessage) onMessage(message);
  if (answers.empty()) return message.defaultAnswer;
  Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedHost::progress(double fraction, const std::string& text) {
  fractions.push_back(fraction);
  caption = text;
  captions.push_back(text);
}

void ScriptedHost::progressDone(const std::string& text) {
  caption = text;
  captions.push_back(text);
}

void ScriptedHost::yield() {
  ++yields;
  if (onYield) onYield();
}

}  // namespace ril
