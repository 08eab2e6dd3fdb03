#pragma once

// In-memory implementations of the ui operation sets: the plain ones the tests use.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/ui.h"

namespace vellora {

class MemoryListView final : public ListView {
 public:
  explicit MemoryListView(int column_count = 8) : column_count_(column_count) {}

  int RowCount() const override { return static_cast<int>(rows_.size()); }
  int SelectedRow() const override { return selected_row_; }
  Text Cell(int row, int column) const override;
  void SetCell(int row, int column, const Text& text) override;
  int AppendRow(const Text& first_cell) override;
  void DeleteAllRows() override;

  void SelectRow(int row) { selected_row_ = row; }
  // All cells of a row, for comparing in tests.
  std::vector<Text> Row(int row) const;

 private:
  bool Contains(int row, int column) const;
  int column_count_;
  int selected_row_ = -1;
  std::vector<std::vector<Text>> rows_;
};

class MemoryLabel final : public Label {
 public:
  Text GetText() const override;
  void SetText(const Text& text) override;
  // Every text the label has shown, oldest first.
  std::vector<Text> History() const;

 private:
  mutable std::mutex mutex_;
  Text text_;
  std::vector<Text> history_;
};

// Counts dispatches and runs an optional hook at each, standing in for the handlers that
// would run nested inside a wait.
// Events are whatever PostEvent posts; a dispatch takes all that are pending.
class ManualEventPump final : public EventPump {
 public:
  void ProcessPendingEvents() override;
  void WaitForEvents(std::chrono::milliseconds max_wait) override;
  void Wake() override;
  void SetHook(std::function<void()> hook) { hook_ = std::move(hook); }
  int DispatchCount() const { return dispatch_count_; }
  // Makes an event pending, from any thread: a wait in progress ends.
  void PostEvent();

 private:
  std::function<void()> hook_;
  int dispatch_count_ = 0;
  std::mutex wait_mutex_;
  std::condition_variable wait_condition_;
  bool event_pending_ = false;
  bool woken_ = false;
};

// Remembers every period it was given, so tests can see a handler stop and restore it.
class MemoryTimer final : public Timer {
 public:
  explicit MemoryTimer(int period = 0) : period_(period) {}
  int Period() const override { return period_; }
  void SetPeriod(int milliseconds) override;
  // Every period set, oldest first.
  const std::vector<int>& History() const { return history_; }

 private:
  int period_;
  std::vector<int> history_;
};

struct ShownBalloon {
  Text title;
  Text text;
  int timeout_ms = 0;
  friend bool operator==(const ShownBalloon&, const ShownBalloon&) = default;
};

class MemoryTrayIcon final : public TrayIcon {
 public:
  void SetTip(const Text& tip) override { tip_ = tip; }
  void SetShown(bool shown) override { shown_ = shown; }
  bool IsShown() const override { return shown_; }
  void ShowBalloon(const Text& title, const Text& text, int timeout_ms) override;
  const Text& Tip() const { return tip_; }
  // Every balloon shown, oldest first.
  const std::vector<ShownBalloon>& Balloons() const { return balloons_; }

 private:
  Text tip_;
  bool shown_ = false;
  std::vector<ShownBalloon> balloons_;
};

// A sound "plays" from PlayOnce until the test ends it with SetPlaying(false).
class MemorySoundPlayer final : public SoundPlayer {
 public:
  bool IsPlaying() const override { return playing_; }
  void PlayOnce(const std::filesystem::path& path) override;
  void SetPlaying(bool playing) { playing_ = playing; }
  // Every file played, oldest first.
  const std::vector<std::filesystem::path>& Plays() const { return plays_; }

 private:
  bool playing_ = false;
  std::vector<std::filesystem::path> plays_;
};

}  // namespace vellora
