#pragma once
// Text between the program and Qt's widgets. The program holds text as
// UTF-8, as the table engine reads it from the tables and writes it to them
// (in each table's code page); the widgets hold QString. Every face crosses
// here.

#include <QString>

#include <string>
#include <string_view>

namespace dialogs {

inline QString toQt(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// What the operator typed, composed: an accent typed as a letter and a
// combining mark is the one character the code pages hold ("e" + U+0301 is
// "é").
inline std::string fromQt(const QString& text) { return text.normalized(QString::NormalizationForm_C).toStdString(); }

}  // namespace dialogs
