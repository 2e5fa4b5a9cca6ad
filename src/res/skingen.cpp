// Draws the skin bitmaps into the folder given on the command line.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QImage img(16, 16, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img.save(dir + "/blank.bmp", "BMP") ? 0 : 1;
}
