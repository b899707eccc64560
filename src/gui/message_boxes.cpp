#include "gui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace ril {
namespace {

QMessageBox::Icon iconOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kInformation:
      return QMessageBox::Information;
    case MsgIcon::kExclamation:
      return QMessageBox::Warning;
    case MsgIcon::kCritical:
      return QMessageBox::Critical;
    case MsgIcon::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// Message texts carry CR LF; the box wants plain line feeds.
QString plainLines(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

}  // namespace

QtMessageHost::QtMessageHost(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}

QMessageBox* QtMessageHost::build(const Message& message, QWidget* parent) {
  auto* box = new QMessageBox(parent);
  box->setWindowTitle(QString::fromStdString(message.title));
  box->setText(plainLines(message.text));
  box->setTextFormat(Qt::PlainText);
  box->setIcon(iconOf(message.icon));
  box->setWindowModality(Qt::ApplicationModal);
  if (message.buttons == MsgButtons::kYesNo) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(message.defaultButton == MsgAnswer::kNo ? QMessageBox::No
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

MsgAnswer QtMessageHost::show(const Message& message) {
  QWidget* parent = parent_ ? parent_() : nullptr;
  if (!parent) parent = QApplication::activeWindow();
  std::unique_ptr<QMessageBox> box(build(message, parent));
  const int result = box->exec();
  if (message.buttons == MsgButtons::kYesNo) {
    return result == QMessageBox::Yes ? MsgAnswer::kYes : MsgAnswer::kNo;
  }
  return MsgAnswer::kOk;
}

}  // namespace ril
