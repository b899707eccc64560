#include "gui/help_viewer.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ril {

const char* const HelpViewer::kTitle = "Rilmaton - Help";

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("helpViewer"));
  setWindowTitle(QString::fromLatin1(kTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);

  textView = new QPlainTextEdit(this);
  textView->setObjectName(QStringLiteral("helpText"));
  textView->setReadOnly(true);
  textView->setLineWrapMode(QPlainTextEdit::NoWrap);
  textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(textView);
  layout->addWidget(buttons);

  // About 84 columns and 40 lines of the text's font.
  const QFontMetrics metrics(textView->font());
  resize(metrics.horizontalAdvance(QString(84, QLatin1Char('m'))), metrics.lineSpacing() * 40);
}

bool HelpViewer::load(const std::string& path, std::string& error) {
  QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
  if (!file.open(QIODevice::ReadOnly)) {
    error = file.errorString().toStdString();
    return false;
  }
  textView->setPlainText(QString::fromUtf8(file.readAll()));
  return true;
}

}  // namespace ril
