#include "platform/ui_memory.h"

namespace vellora {

bool MemoryListView::Contains(int row, int column) const {
  return row >= 0 && row < RowCount() && column >= 0 && column < column_count_;
}

Text MemoryListView::Cell(int row, int column) const {
  return Contains(row, column) ? rows_[row][column] : Text();
}

void MemoryListView::SetCell(int row, int column, const Text& text) {
  if (Contains(row, column)) rows_[row][column] = text;
}

int MemoryListView::AppendRow(const Text& first_cell) {
  rows_.emplace_back(column_count_);
  if (column_count_ > 0) rows_.back()[0] = first_cell;
  return RowCount() - 1;
}

void MemoryListView::DeleteAllRows() {
  rows_.clear();
  selected_row_ = -1;
}

std::vector<Text> MemoryListView::Row(int row) const {
  return row >= 0 && row < RowCount() ? rows_[row] : std::vector<Text>();
}

Text MemoryLabel::GetText() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void MemoryLabel::SetText(const Text& text) {
  std::lock_guard lock(mutex_);
  text_ = text;
  history_.push_back(text);
}

std::vector<Text> MemoryLabel::History() const {
  std::lock_guard lock(mutex_);
  return history_;
}

void ManualEventPump::ProcessPendingEvents() {
  {
    std::lock_guard lock(wait_mutex_);
    event_pending_ = false;
  }
  ++dispatch_count_;
  if (hook_) hook_();
}

void ManualEventPump::WaitForEvents(std::chrono::milliseconds max_wait) {
  std::unique_lock lock(wait_mutex_);
  wait_condition_.wait_for(lock, max_wait, [this] { return event_pending_ || woken_; });
  woken_ = false;
}

void ManualEventPump::Wake() {
  {
    std::lock_guard lock(wait_mutex_);
    woken_ = true;
  }
  wait_condition_.notify_all();
}

void ManualEventPump::PostEvent() {
  {
    std::lock_guard lock(wait_mutex_);
    event_pending_ = true;
  }
  wait_condition_.notify_all();
}

void MemoryTimer::SetPeriod(int milliseconds) {
  period_ = milliseconds;
  history_.push_back(milliseconds);
}

void MemoryTrayIcon::ShowBalloon(const Text& title, const Text& text, int timeout_ms) {
  balloons_.push_back({title, text, timeout_ms});
}

void MemorySoundPlayer::PlayOnce(const std::filesystem::path& path) {
  plays_.push_back(path);
  playing_ = true;
}

}  // namespace vellora
