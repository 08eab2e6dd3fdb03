#pragma once

// What every Vellora window looks like: no system frame, a title strip of its own, pictures
// painted here (gradients and simple shapes, no text), and the ways a window can be moved.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QWidget>

namespace vellora {

enum class WindowMove {
  kDragBySurface,  // a left press on the window or its pictures moves it
  kFixed,          // it stays where it was placed
};

struct WindowChrome {
  QSize size;
  WindowMove move = WindowMove::kDragBySurface;
  bool always_on_top = false;
  bool in_task_bar = true;
};

// Frameless, centred on the screen, sized, on top and in the task bar as asked. A draggable
// window moves on a press on its surface, which includes its pictures and labels: they leave
// presses to their parents. Buttons and lists keep theirs.
void ApplyWindowChrome(QWidget* window, const WindowChrome& chrome);

// The hand pointer while the mouse is over the widget.
void ShowHandCursor(QWidget* widget);

// A font by its Windows name, falling back to an installed CJK font so Chinese renders.
QFont UiFont(const QString& family, int pixel_size);

// A picture box: a vertical gradient with a hairline at the bottom.
class PictureBox : public QWidget {
 public:
  PictureBox(QWidget* parent, const QString& name, QRect geometry, QColor top, QColor bottom);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor top_;
  QColor bottom_;
};

// A label with no background of its own.
QLabel* MakeTransparentLabel(QWidget* parent, const QString& name, QRect geometry,
                             const QString& text, QColor color, const QFont& font,
                             Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

// What a picture button draws on its face.
enum class ButtonGlyph { kMinimise, kClose, kPlus, kPencil, kMinus, kTick, kCross, kQuestion };

// A picture button with normal, hover and pressed pictures.
class PictureButton : public QAbstractButton {
 public:
  PictureButton(QWidget* parent, const QString& name, QRect geometry, ButtonGlyph glyph,
                QColor base);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  ButtonGlyph glyph_;
  QColor base_;
  bool hovered_ = false;
};

// Colours shared by the windows' pictures.
namespace palette {
inline const QColor kStripTop{0x2B, 0x7B, 0xD8};
inline const QColor kStripBottom{0x12, 0x58, 0xB0};
inline const QColor kBodyTop{0xF4, 0xF8, 0xFD};
inline const QColor kBodyBottom{0xDD, 0xE8, 0xF5};
inline const QColor kButton{0x3C, 0x8D, 0xE0};
inline const QColor kGrey{128, 128, 128};
inline const QColor kLightBlue{0xBF, 0xE3, 0xFF};
}  // namespace palette

}  // namespace vellora
