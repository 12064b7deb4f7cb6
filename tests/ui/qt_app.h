// The one QApplication of a window test process: offscreen, with a private
// runtime folder, made the first time a test asks for it.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <cstdlib>
#include <string>

namespace quindelo::test {

inline QApplication* QtApp() {
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string runtime = "/tmp/quindelo-ui-test-XXXXXX";
    if (mkdtemp(runtime.data()) != nullptr) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    static int argc = 1;
    static char name[] = "quindelo-ui-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

// Runs the event loop until done() holds; false when a minute passed first
// (a hung window, not a slow one).
inline bool RunUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 60000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

}  // namespace quindelo::test
