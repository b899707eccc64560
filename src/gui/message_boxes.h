// Messages as modal QMessageBoxes: the message's title and text, and the icon
// and buttons of its kind (Yes and No for a question, OK otherwise).
#pragma once

#include <functional>

#include "core/base/host.h"

class QMessageBox;
class QWidget;

namespace ril {

class MessageBoxes : public MessageSink {
 public:
  // `parent` names the window the boxes belong to (none: the active window).
  // While `dismissed` says so, no box is shown: show() answers at once with
  // what Escape would answer (OK, or No to a question).
  explicit MessageBoxes(std::function<QWidget*()> parent = {},
                        std::function<bool()> dismissed = {});

  Answer show(const Message& message) override;

  // The box show() runs, not yet executed (owned by the caller).
  static QMessageBox* build(const Message& message, QWidget* parent);

 private:
  std::function<QWidget*()> parent_;
  std::function<bool()> dismissed_;
};

}  // namespace ril
