#pragma once

// Menu titles carry names from outside (devices, applications). Each is one
// line of a menu: control characters, line breaks and tabs included, show as
// spaces; invalid UTF-8 shows as U+FFFD.

#include <QString>
#include <string>

namespace velmora::app {

inline QString menuLineText(const std::string& title) {
  QString text = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  }
  return text;
}

}  // namespace velmora::app
