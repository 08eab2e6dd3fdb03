#pragma once

// The toolkit as the logic sees it: small operation sets that the Qt windows implement and
// that ui_memory.h implements in memory for tests and headless use.

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
};

}  // namespace vellora
