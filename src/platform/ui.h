#pragma once

// The toolkit as the logic sees it: small operation sets that the Qt windows implement and
// that ui_memory.h implements in memory for tests and headless use.

#include <chrono>
#include <filesystem>

#include "platform/text.h"

namespace vellora {

// A report-view list: rows of text cells. Reads outside the rows or columns give the empty
// text and writes there are ignored, so a caller holding a stale row index after a nested
// handler reloaded the list can never write past its end.
class ListView {
 public:
  virtual ~ListView() = default;
  virtual int RowCount() const = 0;
  // -1 when no row is selected.
  virtual int SelectedRow() const = 0;
  virtual Text Cell(int row, int column) const = 0;
  virtual void SetCell(int row, int column, const Text& text) = 0;
  // Appends a row whose column 0 holds `first_cell`; returns its index.
  virtual int AppendRow(const Text& first_cell) = 0;
  virtual void DeleteAllRows() = 0;
};

// A text label. SetText may be called from any thread.
class Label {
 public:
  virtual ~Label() = default;
  virtual Text GetText() const = 0;
  virtual void SetText(const Text& text) = 0;
};

// Lets the GUI handle what is pending while a long operation runs on the GUI thread. Handlers
// may nest inside ProcessPendingEvents: callers re-check their world when it returns.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() = 0;
  // Sleeps until an event is pending, Wake is called or `max_wait` has passed, and returns at
  // once when one of these has already happened (a Wake that came first is not lost).
  // An implementation may dispatch the events that arrive while it waits.
  virtual void WaitForEvents(std::chrono::milliseconds max_wait) = 0;
  // Ends the current or next WaitForEvents. Callable from any thread.
  virtual void Wake() = 0;
};

// A window timer. A period of 0 stops it; a new positive period counts a whole period from now.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual int Period() const = 0;
  virtual void SetPeriod(int milliseconds) = 0;
};

// The program's icon in the notification area.
class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  virtual void SetTip(const Text& tip) = 0;
  virtual void SetShown(bool shown) = 0;
  virtual bool IsShown() const = 0;
  virtual void ShowBalloon(const Text& title, const Text& text, int timeout_ms) = 0;
};

// Opens an address in the user's web browser, never through a shell.
class Browser {
 public:
  virtual ~Browser() = default;
  virtual void Open(const Text& url) = 0;
};

// The music alert's player. A file that is missing or cannot be played plays nothing and reports
// nothing.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual bool IsPlaying() const = 0;
  virtual void PlayOnce(const std::filesystem::path& path) = 0;
};

}  // namespace vellora
