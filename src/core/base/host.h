// What the processing code needs from the windows, as small interfaces.
#pragma once

#include <string>

namespace ril {

enum class MsgIcon { kInformation, kExclamation, kCritical, kQuestion };
enum class MsgButtons { kOk, kYesNo };
enum class MsgAnswer { kOk, kYes, kNo };

struct Message {
  std::string title;
  std::string text;  // line breaks as CR LF
  MsgIcon icon = MsgIcon::kInformation;
  MsgButtons buttons = MsgButtons::kOk;
  MsgAnswer defaultButton = MsgAnswer::kOk;
};

// Modal message boxes.
class MessageHost {
 public:
  virtual ~MessageHost() = default;
  virtual MsgAnswer show(const Message& message) = 0;
};

// A window caption that shows progress, and one yield to pending events.
class ProgressHost {
 public:
  virtual ~ProgressHost() = default;
  virtual void setCaption(const std::string& caption) = 0;
  virtual void yieldToEvents() = 0;
};

// The main window as the processing code sees it: the report view txtOut,
// the persistent drawing surface, the caption and the event loop.
class MainView : public ProgressHost {
 public:
  virtual void setReportText(const std::string& text) = 0;  // txtOut = text
  virtual std::string reportViewText() const = 0;           // what txtOut shows
  virtual void printLine(const std::string& line) = 0;      // window surface line
  virtual void repaintNow() = 0;
};

// The modification dialog as the engine sees it.
class ModifyView : public ProgressHost {
 public:
  virtual bool emphasisChecked() = 0;  // current value of chkEmph
};

}  // namespace ril
