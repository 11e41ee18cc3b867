#include "app/splash.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QImageReader>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <filesystem>
#include <system_error>

#include "app/environment.h"
#include "platform/error.h"
#include "platform/text.h"
#include "ui/error_report.h"
#include "ui/qt_text.h"

namespace app {

namespace {

constexpr int kBevelWidth = 10;
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 320;

}  // namespace

QPixmap BuiltInSplashPicture() {
  QPixmap picture(kSplashPictureWidth, kSplashPictureHeight);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, kSplashPictureHeight);
  sky.setColorAt(0.0, QColor(22, 62, 110));
  sky.setColorAt(1.0, QColor(46, 126, 160));
  painter.fillRect(picture.rect(), sky);

  // A few contour lines, as on a map.
  painter.setPen(QPen(QColor(255, 255, 255, 40), 2));
  for (int i = 0; i < 6; ++i) {
    painter.drawEllipse(QPointF(500, 235), 40.0 + 28 * i, 22.0 + 16 * i);
  }
  // A map pin.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(240, 96, 64));
  QPainterPath pin;
  pin.moveTo(500, 250);
  pin.cubicTo(470, 205, 478, 176, 500, 176);
  pin.cubicTo(522, 176, 530, 205, 500, 250);
  painter.drawPath(pin);
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(500, 198), 8, 8);

  painter.setPen(Qt::white);
  QFont title_font(QStringLiteral("Noto Sans CJK JP"));
  title_font.setPixelSize(40);
  title_font.setBold(true);
  painter.setFont(title_font);
  painter.drawText(QRect(28, 26, 580, 56), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("ProjectQuorvel"));

  QFont role_font(QStringLiteral("Noto Sans CJK JP"));
  role_font.setPixelSize(20);
  painter.setFont(role_font);
  painter.drawText(QRect(30, 84, 580, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("プロジェクトクォルヴェル"));
  painter.drawText(QRect(30, 114, 580, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("GIS Quorvel のプロジェクト管理ユーティリティ"));

  painter.setPen(QColor(220, 236, 246));
  QFont hint_font(QStringLiteral("Noto Sans CJK JP"));
  hint_font.setPixelSize(13);
  painter.setFont(hint_font);
  painter.drawText(QRect(30, 232, 440, 50), Qt::AlignLeft | Qt::AlignBottom,
                   QStringLiteral("この画像は差し替えられます。プログラムと同じフォルダに\n"
                                  "620 × 300 ピクセルの「splash.bmp」を置いてください。"));
  painter.end();
  return picture;
}

QPixmap LoadSplashBitmap(const std::u16string& path) {
  QImageReader reader(ui::ToQString(path), "BMP");
  QImage image = reader.read();
  if (image.isNull()) {
    throw platform::Error(path + u" はビットマップ画像として読み込めません");
  }
  return QPixmap::fromImage(image);
}

TfrmSplash::TfrmSplash(const std::u16string& program_directory, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmSplash"));
  setFixedSize(kClientWidth, kClientHeight);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(kBevelWidth, kBevelWidth, kSplashPictureWidth, kSplashPictureHeight);
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setScaledContents(false);

  picture_ = BuiltInSplashPicture();
  Image1->setPixmap(picture_);
  ui::RunReported([&] { FormCreate(program_directory); });
}

void TfrmSplash::FormCreate(const std::u16string& program_directory) {
  const std::u16string path = program_directory + std::u16string(kSplashFileName);
  std::error_code error;
  if (!std::filesystem::is_regular_file(platform::ToPath(path), error)) return;
  picture_ = LoadSplashBitmap(path);
  Image1->setPixmap(picture_);
}

void TfrmSplash::ShowAndPaint() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }
  show();
  raise();
  // Let the window system map and expose the window, then paint it, before the pause
  // blocks everything; a window manager may take a moment to map it.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() != nullptr && !windowHandle()->isExposed() && waited.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    QCoreApplication::sendPostedEvents();
  }
}

void TfrmSplash::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  QPainter painter(this);
  // The raised bevel of the panel that fills the window.
  qDrawShadePanel(&painter, rect(), palette(), /*sunken=*/false, kBevelWidth);
}

}  // namespace app
