#include "platform/qt/qt_ui.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include "platform/qt/qt_text.h"

namespace vellora {

int QtListView::RowCount() const { return tree_ ? tree_->topLevelItemCount() : 0; }

int QtListView::SelectedRow() const {
  if (!tree_) return -1;
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  return selected.isEmpty() ? -1 : tree_->indexOfTopLevelItem(selected.first());
}

Text QtListView::Cell(int row, int column) const {
  if (!tree_ || column < 0 || column >= tree_->columnCount()) return Text();
  const QTreeWidgetItem* item = tree_->topLevelItem(row);
  return item != nullptr ? TextFromQString(item->text(column)) : Text();
}

void QtListView::SetCell(int row, int column, const Text& text) {
  if (!tree_ || column < 0 || column >= tree_->columnCount()) return;
  QTreeWidgetItem* item = tree_->topLevelItem(row);
  if (item == nullptr) return;
  item->setText(column, ToQString(text));
}

int QtListView::AppendRow(const Text& first_cell) {
  if (!tree_) return -1;
  auto* item = new QTreeWidgetItem(tree_);
  // Alignment is a property of the column, not of the row: copy it from the header.
  for (int column = 0; column < tree_->columnCount(); ++column) {
    item->setTextAlignment(column, Qt::Alignment(tree_->headerItem()->textAlignment(column)));
  }
  item->setText(0, ToQString(first_cell));
  return tree_->indexOfTopLevelItem(item);
}

void QtListView::DeleteAllRows() {
  if (tree_) tree_->clear();
}

QtLabel::QtLabel(QLabel* label) {
  shared_->label = label;
  if (label == nullptr) return;
  QObject::connect(label, &QObject::destroyed, [shared = shared_] {
    std::lock_guard lock(shared->mutex);
    shared->label = nullptr;
  });
}

QtLabel::~QtLabel() {
  std::lock_guard lock(shared_->mutex);
  shared_->label = nullptr;
}

Text QtLabel::GetText() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->text;
}

void QtLabel::ShowLatest(Shared& shared) {
  // Labels are destroyed on this thread only, so the pointer stays good after the lock.
  QLabel* label;
  Text text;
  {
    std::lock_guard lock(shared.mutex);
    label = shared.label;
    text = shared.text;
  }
  if (label != nullptr) label->setText(ToQString(text));
}

void QtLabel::SetText(const Text& text) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->text = text;
    if (shared_->label == nullptr) return;
  }
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) return;
  if (QThread::currentThread() == application->thread()) {
    ShowLatest(*shared_);
  } else {
    // The application object outlives every window, so it carries the update.
    QMetaObject::invokeMethod(
        application, [shared = shared_] { ShowLatest(*shared); }, Qt::QueuedConnection);
  }
}

int QtTimer::Period() const { return period_; }

void QtTimer::SetPeriod(int milliseconds) {
  period_ = milliseconds;
  if (!timer_) return;
  if (milliseconds <= 0) {
    timer_->stop();
  } else {
    timer_->start(milliseconds);  // restarts: a whole period from now
  }
}

QtEventPump::QtEventPump() : wait_timer_(new QTimer()) { wait_timer_->setSingleShot(true); }

QtEventPump::~QtEventPump() { delete wait_timer_; }

void QtEventPump::ProcessPendingEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::WaitForEvents(std::chrono::milliseconds max_wait) {
  if (woken_.exchange(false)) return;
  if (max_wait.count() <= 0) {
    ProcessPendingEvents();
    return;
  }
  // The timer's expiry is itself an event, so the wait below ends by then at the latest; a
  // Wake from another thread wakes the dispatcher, which keeps that wake-up until it waits.
  wait_timer_->start(max_wait);
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  wait_timer_->stop();
  woken_.store(false);
}

void QtEventPump::Wake() {
  woken_.store(true);
  if (QAbstractEventDispatcher* dispatcher =
          QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread())) {
    dispatcher->wakeUp();
  }
}

void QtTrayIcon::SetTip(const Text& tip) {
  if (icon_) icon_->setToolTip(ToQString(tip));
}

void QtTrayIcon::SetShown(bool shown) {
  if (icon_) icon_->setVisible(shown);
}

bool QtTrayIcon::IsShown() const { return icon_ && icon_->isVisible(); }

bool SystemTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

namespace {

// A balloon without a tray: a small frameless note in the screen's lower right corner, above
// the other windows, gone after its time-out.
void ShowAlertPopup(const QString& title, const QString& text, int timeout_ms) {
  auto* popup = new QLabel();
  popup->setObjectName(QStringLiteral("AlertPopup"));
  popup->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  popup->setAttribute(Qt::WA_DeleteOnClose);
  popup->setAttribute(Qt::WA_ShowWithoutActivating);
  popup->setTextFormat(Qt::PlainText);
  popup->setText(title + QLatin1Char('\n') + text);
  popup->setMargin(10);
  popup->setStyleSheet(
      QStringLiteral("QLabel { background: #fffbe6; color: #222; border: 1px solid #c8a400; }"));
  popup->adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    popup->move(area.right() - popup->width() - 12, area.bottom() - popup->height() - 12);
  }
  popup->show();
  QTimer::singleShot(timeout_ms, popup, &QWidget::close);
}

}  // namespace

void QtTrayIcon::ShowBalloon(const Text& title, const Text& text, int timeout_ms) {
  ++balloons_shown_;
  if (available_ && available_() && icon_) {
    icon_->showMessage(ToQString(title), ToQString(text), QSystemTrayIcon::Information, timeout_ms);
  } else {
    ShowAlertPopup(ToQString(title), ToQString(text), timeout_ms);
  }
}

QUrl BrowserUrl(const Text& url) { return QUrl(ToQString(url), QUrl::TolerantMode); }

void QtBrowser::Open(const Text& url) { QDesktopServices::openUrl(BrowserUrl(url)); }

}  // namespace vellora
