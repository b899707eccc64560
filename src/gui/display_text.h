// Texts of the core (lines ending in CR LF) as the widgets show them.
#pragma once

#include <QString>
#include <string>

#include "core/base/text.h"

namespace ril {

// LF line ends; a stray CR, which a widget would not show, breaks the line too.
inline QString displayText(const std::string& text) {
  QString shown = QString::fromStdString(toUnixLines(text));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

}  // namespace ril
