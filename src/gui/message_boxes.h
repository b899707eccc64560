// Message boxes through QMessageBox: title, text, icon, buttons and default
// button exactly as the message asks for.
#pragma once

#include <functional>

#include "core/base/host.h"

class QMessageBox;
class QWidget;

namespace ril {

class QtMessageHost : public MessageHost {
 public:
  // `parent` names the window the boxes belong to (none: the active window).
  explicit QtMessageHost(std::function<QWidget*()> parent = {});

  MsgAnswer show(const Message& message) override;

  // The box show() runs, not yet executed (owned by the caller).
  static QMessageBox* build(const Message& message, QWidget* parent);

 private:
  std::function<QWidget*()> parent_;
};

}  // namespace ril
