#pragma once

#include <QWidget>

namespace vellora {

// For the start-up benchmark: with VELLORA_REPORT_SHOWN=1 in the environment, prints "shown"
// on stdout when the window is first exposed on the screen. Does nothing otherwise.
void ReportFirstExposeIfAsked(QWidget& window);

}  // namespace vellora
