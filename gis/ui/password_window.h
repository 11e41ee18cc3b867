// The password window: asks for the password of a protected project before it is opened.
// The program creates one, hidden, at start-up and hands it to the main window, which shows it
// again for every use. It names the project it guards and starts with an empty entry each
// time, so that one project's password never waits in the entry for the next.
#ifndef QUORVEL_GIS_UI_PASSWORD_WINDOW_H_
#define QUORVEL_GIS_UI_PASSWORD_WINDOW_H_

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

#include "gis/open_project.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace gis {

class TfrmPassword : public QDialog {
  Q_OBJECT

 public:
  // `context` gives, at the moment of each click, how to read the main dataset's current row,
  // the GIS path setting and how to warn (the window's own warnings are shown above it).
  explicit TfrmPassword(std::function<OpenProjectContext()> context, QWidget* parent = nullptr);
  ~TfrmPassword() override;

  // Shows the window for the project titled `project_title` without making it modal, with an
  // empty entry; centred on the screen when it was hidden, brought to the front when it was
  // shown already.
  void ShowPasswordWindow(std::u16string_view project_title = {});

  // The sentence that names the guarded project.
  static std::u16string ProjectPrompt(std::u16string_view project_title);

  QLabel* labelProject = nullptr;  // names the project
  QLabel* Label1 = nullptr;
  QLineEdit* editPassword = nullptr;
  QPushButton* BitBtn1 = nullptr;

 public slots:
  void BitBtn1Click();

 private:
  // Places the label, the entry and the button from their size hints around the designed
  // places, growing the window where a text would otherwise be cut.
  void ArrangeControls();

  std::function<OpenProjectContext()> context_;
};

}  // namespace gis

#endif  // QUORVEL_GIS_UI_PASSWORD_WINDOW_H_
