// The application's default error report: whatever an event handler does not catch is shown
// in a modal box with the error icon, captioned with the application title, and the program
// carries on.
#ifndef QUORVEL_UI_ERROR_REPORT_H_
#define QUORVEL_UI_ERROR_REPORT_H_

#include <exception>
#include <string>
#include <string_view>
#include <utility>

class QWidget;

namespace ui {

// The executable's file name up to its first ".", every character after the first in lower
// case: "/opt/q/ProjectQuorvel.exe" gives "Projectquorvel".
std::u16string ApplicationTitle(std::u16string_view program_path);

// The message with a full stop appended when its last character's code is above that of "."
// (so Japanese messages always get one); an empty message stays empty.
std::u16string ErrorReportText(std::u16string_view message);

// The message of an exception: the program's error (base::Error) gives its UTF-16 message,
// any other std::exception its what() read as UTF-8.
std::u16string ExceptionMessage(const std::exception& error);

// Shows the default error report for the exception currently being handled. Call it only
// inside a catch block.
void ReportCurrentException(QWidget* parent = nullptr);

// Runs `handler`; anything it throws is shown through the default error report. Returns
// true when the handler ran to its end.
template <typename Handler>
bool RunReported(Handler&& handler, QWidget* parent = nullptr) {
  try {
    std::forward<Handler>(handler)();
    return true;
  } catch (...) {
    ReportCurrentException(parent);
    return false;
  }
}

// The title that ApplicationTitle gives for the running program (computed once).
std::u16string RunningApplicationTitle();

}  // namespace ui

#endif  // QUORVEL_UI_ERROR_REPORT_H_
