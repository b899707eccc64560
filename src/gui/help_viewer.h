// The help text in a window of the program's own, read-only: what Help,
// Content shows when no text editor on this system can open it.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace ril {

class HelpViewer : public QDialog {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Rilmaton - Help"

  explicit HelpViewer(QWidget* parent = nullptr);

  // Reads the file into the view; false (and `error` says why) when it
  // cannot be read.
  bool load(const std::string& path, std::string& error);

  QPlainTextEdit* textView = nullptr;
};

}  // namespace ril
