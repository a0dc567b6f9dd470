// Texts between our UTF-8 records and Qt's strings, in one place for every window.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace vx {

inline QString qt_text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8_text(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace vx
