#include "gui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "gui/display_text.h"

namespace ril {
namespace {

// Errors, warnings and questions carry the exclamation mark; notices the
// information sign.
QMessageBox::Icon iconOf(MessageKind kind) {
  return kind == MessageKind::kInformation ? QMessageBox::Information : QMessageBox::Warning;
}

}  // namespace

MessageBoxes::MessageBoxes(std::function<QWidget*()> parent, std::function<bool()> dismissed)
    : parent_(std::move(parent)), dismissed_(std::move(dismissed)) {}

QMessageBox* MessageBoxes::build(const Message& message, QWidget* parent) {
  auto* box = new QMessageBox(parent);
  box->setWindowTitle(QString::fromStdString(message.title));
  box->setText(displayText(message.text));
  box->setTextFormat(Qt::PlainText);
  box->setIcon(iconOf(message.kind));
  box->setWindowModality(Qt::ApplicationModal);
  if (message.kind == MessageKind::kQuestion) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(message.defaultAnswer == Answer::kNo ? QMessageBox::No
                                                               : QMessageBox::Yes);
    // Escape and the close box answer No, never Yes.
    box->setEscapeButton(QMessageBox::No);
  } else {
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
  }
  return box;
}

Answer MessageBoxes::show(const Message& message) {
  if (dismissed_ && dismissed_()) {
    return message.kind == MessageKind::kQuestion ? Answer::kNo : Answer::kOk;
  }
  QWidget* parent = parent_ ? parent_() : nullptr;
  if (!parent) parent = QApplication::activeWindow();
  std::unique_ptr<QMessageBox> box(build(message, parent));
  const int result = box->exec();
  if (message.kind == MessageKind::kQuestion) {
    return result == QMessageBox::Yes ? Answer::kYes : Answer::kNo;
  }
  return Answer::kOk;
}

}  // namespace ril
