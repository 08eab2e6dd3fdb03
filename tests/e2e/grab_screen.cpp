// Saves a picture of the whole X screen named by DISPLAY and prints the colour of each
// "x,y" point given after the file name, one "#rrggbb" a line. "--crop=x,y,w,h" first saves
// only that part of the screen.
//   grab_screen [--crop=x,y,w,h] out.png 400,12 ...
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  int first = 1;
  QRect crop;
  int cx = 0, cy = 0, cw = 0, ch = 0;
  if (argc > 1 && std::sscanf(argv[1], "--crop=%d,%d,%d,%d", &cx, &cy, &cw, &ch) == 4) {
    crop = QRect(cx, cy, cw, ch);
    first = 2;
  }
  if (argc <= first) return 2;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1;
  const QImage image = screen->grabWindow(0).toImage();
  const QImage saved = crop.isNull() ? image : image.copy(crop);
  if (!saved.save(QString::fromLocal8Bit(argv[first]))) return 1;
  for (int i = first + 1; i < argc; ++i) {
    int x = 0;
    int y = 0;
    if (std::sscanf(argv[i], "%d,%d", &x, &y) != 2) return 2;
    const QColor colour = image.pixelColor(x, y);
    std::printf("#%02x%02x%02x\n", colour.red(), colour.green(), colour.blue());
  }
  return 0;
}
