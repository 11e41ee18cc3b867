// The program's UTF-16 texts and Qt's QString, both UTF-16: conversion without loss.
#ifndef QUORVEL_UI_QT_TEXT_H_
#define QUORVEL_UI_QT_TEXT_H_

#include <QString>
#include <string>
#include <string_view>

namespace ui {

inline QString ToQString(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

inline std::u16string ToU16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

}  // namespace ui

#endif  // QUORVEL_UI_QT_TEXT_H_
