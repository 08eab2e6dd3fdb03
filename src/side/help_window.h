#pragma once

#include <QDialog>

namespace vellora {

// The fixed help text in a small modal window.
class HelpWindow : public QDialog {
 public:
  HelpWindow();
};

// Opens a new HelpWindow modally, without an owner, and returns when it has been closed.
void OpenHelpWindow();

}  // namespace vellora
