// What the core needs from whoever shows its work: progress of a long pass,
// messages the user acknowledges or answers, and a moment for pending user
// events. The desktop program implements these with its widgets, the
// command-line tool with a terminal, the tests with scripts.
#pragma once

#include <string>

namespace ril {

enum class MessageKind {
  kError,        // something went wrong with one sample or step; the run goes on
  kWarning,      // a run or a command was stopped or refused
  kInformation,  // a notice
  kQuestion,     // asks Yes or No
};

enum class Answer { kOk, kYes, kNo };

struct Message {
  MessageKind kind = MessageKind::kInformation;
  std::string title;                   // the box's title, e.g. "Warning"
  std::string text;                    // lines end in CR LF
  Answer defaultAnswer = Answer::kOk;  // for questions: kYes or kNo
};

// Modal messages: show() returns once the user has acknowledged or answered.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual Answer show(const Message& message) = 0;
};

// Progress of a pass over a file's samples, reported once per block.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // `fraction` of the work done before this block (0 to below 1), and the
  // short text that shows it ("44%", "Progress 44%").
  virtual void progress(double fraction, const std::string& text) = 0;
  // The pass has ended; `text` is what stays shown ("Done!"), or empty.
  virtual void progressDone(const std::string& text) = 0;
  // Lets pending user events run once; commands given then run inside it.
  virtual void yield() = 0;
};

}  // namespace ril
