#pragma once
// The one place where the core's 8-bit text (the system's narrow code page) meets QString.

#include <QString>
#include <string>

namespace nimbrel::ui {

inline std::string ToNarrow(const QString& text) {
    return text.toLocal8Bit().toStdString();
}
inline QString FromNarrow(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace nimbrel::ui
