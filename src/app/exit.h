#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>

#include "app/program_state.h"
#include "platform/ui.h"

namespace vellora {

// "是否确认退出?" with a confirm and a cancel button. The buttons set ExitAnswer; closing it any
// other way leaves ExitAnswer as it was, which counts as cancel.
class ExitConfirmWindow : public QDialog {
 public:
  explicit ExitConfirmWindow(ProgramState& state);
};

// Ends the process at once with `code`. Replaced in tests.
using EndProcess = std::function<void(int code)>;
void EndProcessNow(int code);

// Asks the user; on confirmation deletes data_below.dat in the run directory, removes the tray
// icon and ends the process. Returns whether the main window may close: false on cancel (and
// after `end_process` returns, which only a test's does).
bool ConfirmExit(ProgramState& state, const std::filesystem::path& run_dir, TrayIcon& tray,
                 const EndProcess& end_process = EndProcessNow);

}  // namespace vellora
