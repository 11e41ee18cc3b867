// The splash window: a borderless 640 × 320 window with a raised 10-pixel bevel around a
// 620 × 300 picture. The picture is built in; a "splash.bmp" in the program directory
// replaces it, drawn from the top-left corner at its natural size and clipped.
#ifndef QUORVEL_APP_SPLASH_H_
#define QUORVEL_APP_SPLASH_H_

#include <QPixmap>
#include <QWidget>
#include <string>

class QLabel;

namespace app {

inline constexpr int kSplashPictureWidth = 620;
inline constexpr int kSplashPictureHeight = 300;

// The built-in picture: the product, its role, and how to replace the picture.
QPixmap BuiltInSplashPicture();

// Loads a bitmap file; raises an error naming the file when it is not a readable bitmap.
QPixmap LoadSplashBitmap(const std::u16string& path);

class TfrmSplash : public QWidget {
  Q_OBJECT

 public:
  // Runs the creation handler: a splash.bmp in `program_directory` replaces the built-in
  // picture; a file that cannot be loaded is shown through the default error report.
  TfrmSplash(const std::u16string& program_directory, QWidget* owner = nullptr);

  // Centres the window on the screen, shows it and paints it at once.
  void ShowAndPaint();

  const QPixmap& picture() const { return picture_; }
  QLabel* Image1 = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void FormCreate(const std::u16string& program_directory);

  QPixmap picture_;
};

}  // namespace app

#endif  // QUORVEL_APP_SPLASH_H_
