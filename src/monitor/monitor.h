#pragma once

// The monitor: the timed cycle over every route with its alerts, and the manual refresh of the
// selected route. Runs on the GUI thread; the searches dispatch window events while they wait,
// so any handler may run nested inside these.

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "routes/route_store.h"

namespace vellora {

// The monitor's share of the program-wide state.
struct MonitorState {
  std::int32_t MonitorBusy = 0;  // 1 exactly while a cycle runs
  Text LastRefreshDate;          // TodayText of the last tick; empty before the first
};

// The controls and services the monitor works with, handed over by the main window.
struct MonitorContext {
  MonitorState& state;
  ListView& monitor_list;    // 超级列表框_监控列表
  ListView& latest_flights;  // 超级列表框_最新10班信息
  Label& status_label;       // 透明标签_刷新状态
  Timer& refresh_timer;      // 时钟_定时刷新
  TrayIcon& tray_icon;       // 托盘图标1
  SoundPlayer& sound_player;
  EventPump& pump;
  const Clock& clock;
  const RouteStore& route_store;  // MainRouteStore
  std::filesystem::path run_dir;
  std::function<void()> refresh_route_summary;  // RefreshRouteSummary of the main window
};

inline constexpr int kAlertBalloonTimeoutMs = 30000;
// A price counts as found above this, and as over the target when it passes it by more.
inline constexpr double kPriceTolerance = 1e-7;

// The time as hh:mm:ss: 09:05:03.
Text ClockText(const LocalDateTime& now);

// The refresh timer's handler: the day-rollover reload, the cycle, the trim, with the timer
// stopped meanwhile and given back the period it had on entry.
void OnRefreshTimer(MonitorContext& context);

// Searches every route of the monitor list, writes the lowest fare and the Y/N mark, alerts.
// Returns at once when a cycle is already running.
void RunMonitorCycle(MonitorContext& context);

// The monitor list's double-click: searches the selected route and writes its lowest fare,
// without a mark or an alert.
void RefreshSelectedRoute(MonitorContext& context);

// Gives the memory freed by a cycle back to the system.
void TrimWorkingSet();

}  // namespace vellora
