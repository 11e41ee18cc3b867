// Every modal dialog of the program goes through these functions: message boxes, file-open
// and file-save dialogs and the colour dialog.
//
// Tests answer them without a screen: while a DialogAnswers object lives, no dialog opens.
// Message boxes are recorded and answered "OK"; file and colour dialogs are recorded and take
// the next queued answer (a cancel when nothing is queued).
#ifndef QUORVEL_UI_DIALOGS_H_
#define QUORVEL_UI_DIALOGS_H_

#include <QColor>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QFont;
class QWidget;

namespace ui {

enum class MessageKind { kWarning, kError, kInformation };

// "警告", "エラー", "情報".
std::u16string MessageCaption(MessageKind kind);

// A modal box with the kind's icon, the kind's caption and only an OK button.
void ShowMessage(MessageKind kind, std::u16string_view text, QWidget* parent = nullptr);

// A modal box with the error icon, the given caption and only an OK button (the default
// error report uses it).
void ShowErrorWithCaption(std::u16string_view caption, std::u16string_view text,
                          QWidget* parent = nullptr);

// The least width of a message box whose text is in `font`, so that its title bar shows the
// whole caption.
int MessageBoxMinimumWidth(std::u16string_view caption, const QFont& font);

struct FileFilter {
  std::u16string name;      // shown, e.g. "全てのファイル(*.*)"
  std::u16string patterns;  // ";"-separated, e.g. "*.mdb;*.sqlite"
};

struct FileDialogOptions {
  std::u16string title;
  std::vector<FileFilter> filters;
  std::u16string default_extension;  // without the dot; added to a name typed without one
  std::u16string initial_path;       // folder or file; empty for the dialog's own choice
};

// The chosen full path, or nothing when the user cancels. The open dialog accepts a typed
// name that names no file.
std::optional<std::u16string> GetOpenFileName(const FileDialogOptions& options,
                                              QWidget* parent = nullptr);
// No question is asked before an existing file is chosen.
std::optional<std::u16string> GetSaveFileName(const FileDialogOptions& options,
                                              QWidget* parent = nullptr);

// The chosen colour, or nothing when the user cancels.
std::optional<QColor> PickColor(const QColor& initial, QWidget* parent = nullptr);

// Adds the default extension to a path whose file name has none (as the file dialogs do).
std::u16string WithDefaultExtension(std::u16string_view path, std::u16string_view extension);

// One dialog that was asked for while answers were being given.
struct ShownDialog {
  enum class Type { kMessage, kOpenFile, kSaveFile, kColor };
  Type type = Type::kMessage;
  std::u16string caption;                  // message caption or file dialog title
  std::u16string text;                     // message text
  MessageKind kind = MessageKind::kError;  // messages only
  FileDialogOptions file_options;          // file dialogs only
  QColor initial_color;                    // colour dialog only
};

// The test seam. At most one instance at a time.
class DialogAnswers {
 public:
  DialogAnswers();
  ~DialogAnswers();
  DialogAnswers(const DialogAnswers&) = delete;
  DialogAnswers& operator=(const DialogAnswers&) = delete;

  // The next file dialog returns `path`; std::nullopt answers with a cancel. A path without
  // an extension gets the dialog's default extension, as a typed name does.
  void QueueFile(std::optional<std::u16string> path);
  // The next colour dialog returns `color`; std::nullopt answers with a cancel.
  void QueueColor(std::optional<QColor> color);

  const std::vector<ShownDialog>& shown() const { return shown_; }
  // The messages only, in order.
  std::vector<ShownDialog> messages() const;
  void Clear() { shown_.clear(); }

  // The instance that answers now, or nullptr.
  static DialogAnswers* Active();

 private:
  friend struct DialogAnswersAccess;
  std::vector<ShownDialog> shown_;
  std::vector<std::optional<std::u16string>> files_;
  std::vector<std::optional<QColor>> colors_;
};

}  // namespace ui

#endif  // QUORVEL_UI_DIALOGS_H_
