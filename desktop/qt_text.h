// Texts between our UTF-8 records and Qt's strings, in one place for every window.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace vx {

inline QString qt_text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8_text(const QString& text) {
  return text.toUtf8().toStdString();
}

// Name filters ("All Files (*)" and the like) as one text for Qt's file dialogs.
inline QString file_filters(const std::vector<std::string>& filters) {
  QStringList list;
  for (const std::string& filter : filters)
    list << qt_text(filter);
  return list.join(";;");
}

}  // namespace vx
