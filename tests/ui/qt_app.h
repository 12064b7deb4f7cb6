// One QApplication for a window test process: offscreen, with a private
// runtime folder, made on first use and kept to the end of the process.
#pragma once

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <string>

namespace quindelo::test {

inline QApplication* QtApp() {
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string runtime = QDir::tempPath().toStdString() + "/quindelo-test-XXXXXX";
    if (mkdtemp(runtime.data())) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    static int argc = 1;
    static char name[] = "quindelo-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

}  // namespace quindelo::test

namespace quindelo::ui::testing {

// The same application under the name the results list tests use.
inline QApplication* TestApp() { return quindelo::test::QtApp(); }

}  // namespace quindelo::ui::testing
