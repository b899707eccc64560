#include "support/scripted_host.h"

namespace ril {

MsgAnswer ScriptedHost::show(const Message& message) {
  messages.push_back(message);
  if (onMessage) onMessage(message);
  if (answers.empty()) return message.defaultButton;
  MsgAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedHost::setCaption(const std::string& text) {
  caption = text;
  captions.push_back(text);
}

void ScriptedHost::yieldToEvents() {
  ++yields;
  if (onYield) onYield();
}

void ScriptedHost::printLine(const std::string& line) {
  printed.push_back(line);
  if (onPrintLine) onPrintLine(line);
}

}  // namespace ril
