#pragma once

// The program-wide state: created at start-up, gone at process end, used on the GUI thread.

#include <cstdint>

#include "monitor/monitor.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "routes/route_store.h"

namespace vellora {

struct ProgramState {
  ProgramState(const Clock& clock, EventPump& pump)
      : MainRouteStore(clock, pump), EditorRouteStore(clock, pump) {}

  std::int32_t ExitAnswer = 0;      // 1 once the user confirmed the exit
  std::int32_t RefreshMinutes = 0;  // the stored refresh interval
  std::int32_t MenuRow = 0;         // the row the route menu was opened on, -1 for none
  RouteStore MainRouteStore;
  RouteStore EditorRouteStore;
  MonitorState Monitor;  // MonitorBusy, LastRefreshDate
};

}  // namespace vellora
