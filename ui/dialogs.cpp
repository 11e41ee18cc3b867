#include "ui/dialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStringList>
#include <cassert>

#include "ui/qt_text.h"

namespace ui {

namespace {

DialogAnswers* g_active_answers = nullptr;

QMessageBox::Icon IconOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::kWarning:
      return QMessageBox::Warning;
    case MessageKind::kError:
      return QMessageBox::Critical;
    case MessageKind::kInformation:
      return QMessageBox::Information;
  }
  return QMessageBox::Critical;
}

// A carriage return alone breaks the line in the system's message boxes; Qt wants "\n".
QString DisplayText(std::u16string_view text) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QChar(u'\r'), QChar(u'\n'));
  return shown;
}

void ShowBox(QMessageBox::Icon icon, std::u16string_view caption, std::u16string_view text,
             QWidget* parent) {
  QMessageBox box(icon, ToQString(caption), DisplayText(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  // A box only as wide as a short text leaves the title bar no room for its caption beside
  // the window manager's icon and buttons. The box sizes itself from its layout, so the
  // minimum width goes into the layout as an empty item across all columns.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(MessageBoxMinimumWidth(caption, box.font()), 0,
                                  QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

// "Name (*.a *.b)": Qt reads the patterns from the last parenthesised group; the dialog is
// told to show only the name.
QStringList NameFilters(const std::vector<FileFilter>& filters) {
  QStringList result;
  for (const FileFilter& filter : filters) {
    QString patterns = ToQString(filter.patterns);
    patterns.replace(QChar(u';'), QChar(u' '));
    result << ToQString(filter.name) + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  return result;
}

std::optional<std::u16string> RunFileDialog(const FileDialogOptions& options, bool save,
                                            QWidget* parent) {
  QFileDialog dialog(parent, ToQString(options.title));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!options.filters.empty()) dialog.setNameFilters(NameFilters(options.filters));
  if (!options.default_extension.empty()) {
    dialog.setDefaultSuffix(ToQString(options.default_extension));
  }
  if (!options.initial_path.empty()) {
    const QString initial = ToQString(options.initial_path);
    if (QFileInfo(initial).isDir()) {
      dialog.setDirectory(initial);
    } else {
      dialog.selectFile(initial);
    }
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return ToU16(QDir::toNativeSeparators(files.first()));
}

}  // namespace

int MessageBoxMinimumWidth(std::u16string_view caption, const QFont& font) {
  const QFontMetrics metrics(font);
  // Room for the caption in a title-bar font up to half as large again, plus the window
  // icon and three title-bar buttons.
  return metrics.horizontalAdvance(ToQString(caption)) * 3 / 2 + 12 * metrics.height();
}

struct DialogAnswersAccess {
  static std::optional<std::u16string> NextFile(DialogAnswers& answers, ShownDialog shown,
                                                std::u16string_view default_extension) {
    answers.shown_.push_back(std::move(shown));
    if (answers.files_.empty()) return std::nullopt;
    std::optional<std::u16string> answer = std::move(answers.files_.front());
    answers.files_.erase(answers.files_.begin());
    if (answer && !default_extension.empty()) {
      answer = WithDefaultExtension(*answer, default_extension);
    }
    return answer;
  }
  static std::optional<QColor> NextColor(DialogAnswers& answers, ShownDialog shown) {
    answers.shown_.push_back(std::move(shown));
    if (answers.colors_.empty()) return std::nullopt;
    std::optional<QColor> answer = answers.colors_.front();
    answers.colors_.erase(answers.colors_.begin());
    return answer;
  }
  static void Record(DialogAnswers& answers, ShownDialog shown) {
    answers.shown_.push_back(std::move(shown));
  }
};

std::u16string MessageCaption(MessageKind kind) {
  switch (kind) {
    case MessageKind::kWarning:
      return u"警告";
    case MessageKind::kError:
      return u"エラー";
    case MessageKind::kInformation:
      return u"情報";
  }
  return u"エラー";
}

void ShowMessage(MessageKind kind, std::u16string_view text, QWidget* parent) {
  if (DialogAnswers* answers = DialogAnswers::Active()) {
    ShownDialog shown;
    shown.type = ShownDialog::Type::kMessage;
    shown.kind = kind;
    shown.caption = MessageCaption(kind);
    shown.text = std::u16string(text);
    DialogAnswersAccess::Record(*answers, std::move(shown));
    return;
  }
  ShowBox(IconOf(kind), MessageCaption(kind), text, parent);
}

void ShowErrorWithCaption(std::u16string_view caption, std::u16string_view text, QWidget* parent) {
  if (DialogAnswers* answers = DialogAnswers::Active()) {
    ShownDialog shown;
    shown.type = ShownDialog::Type::kMessage;
    shown.kind = MessageKind::kError;
    shown.caption = std::u16string(caption);
    shown.text = std::u16string(text);
    DialogAnswersAccess::Record(*answers, std::move(shown));
    return;
  }
  ShowBox(QMessageBox::Critical, caption, text, parent);
}

std::optional<std::u16string> GetOpenFileName(const FileDialogOptions& options, QWidget* parent) {
  if (DialogAnswers* answers = DialogAnswers::Active()) {
    ShownDialog shown;
    shown.type = ShownDialog::Type::kOpenFile;
    shown.caption = options.title;
    shown.file_options = options;
    return DialogAnswersAccess::NextFile(*answers, std::move(shown), options.default_extension);
  }
  return RunFileDialog(options, /*save=*/false, parent);
}

std::optional<std::u16string> GetSaveFileName(const FileDialogOptions& options, QWidget* parent) {
  if (DialogAnswers* answers = DialogAnswers::Active()) {
    ShownDialog shown;
    shown.type = ShownDialog::Type::kSaveFile;
    shown.caption = options.title;
    shown.file_options = options;
    return DialogAnswersAccess::NextFile(*answers, std::move(shown), options.default_extension);
  }
  return RunFileDialog(options, /*save=*/true, parent);
}

std::optional<QColor> PickColor(const QColor& initial, QWidget* parent) {
  if (DialogAnswers* answers = DialogAnswers::Active()) {
    ShownDialog shown;
    shown.type = ShownDialog::Type::kColor;
    shown.initial_color = initial;
    return DialogAnswersAccess::NextColor(*answers, std::move(shown));
  }
  QColorDialog dialog(initial, parent);
  dialog.setOption(QColorDialog::DontUseNativeDialog, true);
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedColor();
}

std::u16string WithDefaultExtension(std::u16string_view path, std::u16string_view extension) {
  const size_t name_start = path.find_last_of(u"/\\:");
  const std::u16string_view name =
      name_start == std::u16string_view::npos ? path : path.substr(name_start + 1);
  std::u16string result(path);
  if (!name.empty() && name.find(u'.') == std::u16string_view::npos && !extension.empty()) {
    result += u'.';
    result += extension;
  }
  return result;
}

DialogAnswers::DialogAnswers() {
  assert(g_active_answers == nullptr);
  g_active_answers = this;
}

DialogAnswers::~DialogAnswers() {
  if (g_active_answers == this) g_active_answers = nullptr;
}

void DialogAnswers::QueueFile(std::optional<std::u16string> path) {
  files_.push_back(std::move(path));
}

void DialogAnswers::QueueColor(std::optional<QColor> color) { colors_.push_back(color); }

std::vector<ShownDialog> DialogAnswers::messages() const {
  std::vector<ShownDialog> result;
  for (const ShownDialog& shown : shown_) {
    if (shown.type == ShownDialog::Type::kMessage) result.push_back(shown);
  }
  return result;
}

DialogAnswers* DialogAnswers::Active() { return g_active_answers; }

}  // namespace ui
