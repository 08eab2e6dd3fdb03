#pragma once

// For tests of Qt code: runs the event loop until a condition holds, never longer than a limit.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace vellora::testing {

// Returns `done()` once it holds or `limit_ms` has passed.
inline bool SpinUntil(const std::function<bool()>& done, int limit_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limit_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

}  // namespace vellora::testing
