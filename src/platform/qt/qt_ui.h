#pragma once

// The Qt implementations of the ui operation sets. Each wraps a widget it does not own; the
// widget belongs to its window.

#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/ui.h"

namespace vellora {

class QtListView final : public ListView {
 public:
  explicit QtListView(QTreeWidget* tree) : tree_(tree) {}
  int RowCount() const override;
  int SelectedRow() const override;
  Text Cell(int row, int column) const override;
  void SetCell(int row, int column, const Text& text) override;
  int AppendRow(const Text& first_cell) override;
  void DeleteAllRows() override;

 private:
  QPointer<QTreeWidget> tree_;
};

// SetText may be called from any thread: from another thread the label is updated on the GUI
// thread, and only if it still exists then. The label always ends up showing the text set last.
// GetText answers from a copy, so it too may be called from anywhere.
class QtLabel final : public Label {
 public:
  explicit QtLabel(QLabel* label);
  ~QtLabel() override;
  QtLabel(const QtLabel&) = delete;
  QtLabel& operator=(const QtLabel&) = delete;
  Text GetText() const override;
  void SetText(const Text& text) override;

 private:
  // Shared with the updates queued from other threads, which may outlive this object.
  struct Shared {
    std::mutex mutex;
    QLabel* label = nullptr;  // cleared on the GUI thread when the label or this object goes
    Text text;
  };
  static void ShowLatest(Shared& shared);  // on the GUI thread
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

class QtTimer final : public Timer {
 public:
  explicit QtTimer(QTimer* timer) : timer_(timer) {}
  int Period() const override;
  void SetPeriod(int milliseconds) override;

 private:
  QPointer<QTimer> timer_;
  int period_ = 0;
};

class QtEventPump final : public EventPump {
 public:
  QtEventPump();
  ~QtEventPump() override;
  void ProcessPendingEvents() override;
  void WaitForEvents(std::chrono::milliseconds max_wait) override;
  void Wake() override;

 private:
  QTimer* wait_timer_;  // its expiry ends a wait; owned here
  std::atomic<bool> woken_{false};
};

// Whether the desktop has a notification area to put the icon in.
using TrayAvailable = std::function<bool()>;
bool SystemTrayAvailable();

// Where the desktop has no notification area (a bare X server, some Wayland desktops) a
// balloon would vanish unseen; it is shown as a small popup over the other windows instead.
class QtTrayIcon final : public TrayIcon {
 public:
  QtTrayIcon(QSystemTrayIcon* icon, TrayAvailable available)
      : icon_(icon), available_(std::move(available)) {}
  void SetTip(const Text& tip) override;
  void SetShown(bool shown) override;
  bool IsShown() const override;
  void ShowBalloon(const Text& title, const Text& text, int timeout_ms) override;
  int BalloonsShown() const { return balloons_shown_; }

 private:
  QPointer<QSystemTrayIcon> icon_;
  TrayAvailable available_;
  int balloons_shown_ = 0;
};

// The address as the browsers of this platform want it: characters beyond ASCII percent-encoded
// as UTF-8.
QUrl BrowserUrl(const Text& url);

class QtBrowser final : public Browser {
 public:
  void Open(const Text& url) override;
};

}  // namespace vellora
