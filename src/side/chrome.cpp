#include "side/chrome.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QWindow>

namespace vellora {
namespace {

// Moves a window while the left button is held on it or on one of its handles. The window
// manager's own move is asked first; where there is none (a bare X server) the window moves
// itself.
class DragMover : public QObject {
 public:
  explicit DragMover(QWidget* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        if (watched != window_) return false;
        QWindow* handle = window_->windowHandle();
        if (handle != nullptr && handle->startSystemMove()) return true;
        dragging_ = true;
        grab_offset_ = mouse->globalPosition().toPoint() - window_->frameGeometry().topLeft();
        return true;
      }
      case QEvent::MouseMove:
        if (dragging_) {
          auto* mouse = static_cast<QMouseEvent*>(event);
          window_->move(mouse->globalPosition().toPoint() - grab_offset_);
          return true;
        }
        return false;
      case QEvent::MouseButtonRelease:
        if (dragging_) {
          dragging_ = false;
          return true;
        }
        return false;
      default:
        return false;
    }
  }

 private:
  QWidget* window_;
  bool dragging_ = false;
  QPoint grab_offset_;
};

}  // namespace

void ApplyWindowChrome(QWidget* window, const WindowChrome& chrome) {
  Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
  if (chrome.always_on_top) flags |= Qt::WindowStaysOnTopHint;
  if (!chrome.in_task_bar) flags |= Qt::Tool;
  window->setWindowFlags(flags);
  window->setFixedSize(chrome.size);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(chrome.size.width() / 2, chrome.size.height() / 2));
  }
  if (chrome.move == WindowMove::kDragBySurface) window->installEventFilter(new DragMover(window));
}

void ShowHandCursor(QWidget* widget) { widget->setCursor(Qt::PointingHandCursor); }

QFont UiFont(const QString& family, int pixel_size) {
  QFont font;
  font.setFamilies({family, QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("sans-serif")});
  font.setPixelSize(pixel_size);
  return font;
}

PictureBox::PictureBox(QWidget* parent, const QString& name, QRect geometry, QColor top,
                       QColor bottom)
    : QWidget(parent), top_(top), bottom_(bottom) {
  setObjectName(name);
  setGeometry(geometry);
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0, top_);
  gradient.setColorAt(1, bottom_);
  painter.fillRect(rect(), gradient);
  painter.setPen(bottom_.darker(115));
  painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

QLabel* MakeTransparentLabel(QWidget* parent, const QString& name, QRect geometry,
                             const QString& text, QColor color, const QFont& font,
                             Qt::Alignment alignment) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setFont(font);
  label->setAlignment(alignment);
  QPalette colors = label->palette();
  colors.setColor(QPalette::WindowText, color);
  label->setPalette(colors);
  label->setAutoFillBackground(false);
  label->setTextFormat(Qt::PlainText);
  return label;
}

PictureButton::PictureButton(QWidget* parent, const QString& name, QRect geometry,
                             ButtonGlyph glyph, QColor base)
    : QAbstractButton(parent), glyph_(glyph), base_(base) {
  setObjectName(name);
  setGeometry(geometry);
  setFocusPolicy(Qt::NoFocus);
}

void PictureButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor face = base_;
  if (isDown()) {
    face = base_.darker(125);
  } else if (hovered_) {
    face = base_.lighter(120);
  }
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0, face.lighter(125));
  gradient.setColorAt(1, face);
  painter.setPen(face.darker(140));
  painter.setBrush(gradient);
  painter.drawRoundedRect(box, 3, 3);

  const qreal side = std::min(width(), height()) * 0.5;
  const QPointF c = box.center();
  QPen pen(Qt::white, std::max<qreal>(1.5, side / 5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  const qreal h = side / 2;
  switch (glyph_) {
    case ButtonGlyph::kMinimise:
      painter.drawLine(QPointF(c.x() - h, c.y() + h / 2), QPointF(c.x() + h, c.y() + h / 2));
      break;
    case ButtonGlyph::kClose:
    case ButtonGlyph::kCross:
      painter.drawLine(QPointF(c.x() - h, c.y() - h), QPointF(c.x() + h, c.y() + h));
      painter.drawLine(QPointF(c.x() - h, c.y() + h), QPointF(c.x() + h, c.y() - h));
      break;
    case ButtonGlyph::kPlus:
      painter.drawLine(QPointF(c.x() - h, c.y()), QPointF(c.x() + h, c.y()));
      painter.drawLine(QPointF(c.x(), c.y() - h), QPointF(c.x(), c.y() + h));
      break;
    case ButtonGlyph::kMinus:
      painter.drawLine(QPointF(c.x() - h, c.y()), QPointF(c.x() + h, c.y()));
      break;
    case ButtonGlyph::kPencil:
      painter.drawLine(QPointF(c.x() - h, c.y() + h), QPointF(c.x() + h, c.y() - h));
      painter.drawLine(QPointF(c.x() - h, c.y() + h), QPointF(c.x() - h / 2, c.y() + h));
      break;
    case ButtonGlyph::kTick: {
      QPainterPath path;
      path.moveTo(c.x() - h, c.y());
      path.lineTo(c.x() - h / 4, c.y() + h * 0.7);
      path.lineTo(c.x() + h, c.y() - h * 0.7);
      painter.drawPath(path);
      break;
    }
    case ButtonGlyph::kQuestion: {
      // A hook from the upper left round to the right and down into a stem, and a dot below.
      const QRectF hook(c.x() - h * 0.6, c.y() - h * 1.05, h * 1.2, h * 1.1);
      QPainterPath path;
      path.arcMoveTo(hook, 160);
      path.arcTo(hook, 160, -250);
      path.lineTo(c.x(), c.y() + h * 0.35);
      painter.drawPath(path);
      painter.setPen(Qt::NoPen);
      painter.setBrush(Qt::white);
      painter.drawEllipse(QPointF(c.x(), c.y() + h * 0.9), pen.widthF() * 0.6, pen.widthF() * 0.6);
      break;
    }
  }
}

}  // namespace vellora
