#include "ui/error_report.h"

#include <QString>

#include "base/error.h"
#include "base/utf.h"
#include "platform/program_path.h"
#include "platform/text.h"
#include "ui/dialogs.h"
#include "ui/qt_text.h"

namespace ui {

std::u16string ApplicationTitle(std::u16string_view program_path) {
  const size_t name_start = program_path.find_last_of(u"/\\");
  std::u16string_view name =
      name_start == std::u16string_view::npos ? program_path : program_path.substr(name_start + 1);
  const size_t dot = name.find(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  if (name.empty()) return std::u16string();
  // The first character as it is, the rest in lower case (letters of every script).
  const QString rest = ToQString(name.substr(1)).toLower();
  return std::u16string(name.substr(0, 1)) + ToU16(rest);
}

std::u16string ErrorReportText(std::u16string_view message) {
  std::u16string text(message);
  if (!text.empty() && text.back() > u'.') text += u'.';
  return text;
}

std::u16string ExceptionMessage(const std::exception& error) {
  // The engine and the platform layer throw the one error type; its UTF-16 message is shown
  // as it is, any other exception by its UTF-8 what().
  if (const auto* program_error = dynamic_cast<const base::Error*>(&error)) {
    return program_error->message();
  }
  return base::FromUtf8(error.what());
}

std::u16string RunningApplicationTitle() {
  static const std::u16string title = [] {
    try {
      return ApplicationTitle(platform::ProgramPath());
    } catch (...) {
      return std::u16string(u"Projectquorvel");
    }
  }();
  return title;
}

void ReportCurrentException(QWidget* parent) {
  std::u16string message;
  try {
    throw;
  } catch (const std::exception& error) {
    message = ExceptionMessage(error);
  } catch (...) {
    message = u"不明なエラーが発生しました";
  }
  ShowErrorWithCaption(RunningApplicationTitle(), ErrorReportText(message), parent);
}

}  // namespace ui
