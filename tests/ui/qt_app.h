// One QApplication for a window test process, offscreen, with a private
// runtime folder, made before the first test that needs it.
#pragma once

#include <QApplication>
#include <cstdlib>
#include <string>

namespace quindelo::ui::testing {

inline QApplication* TestApp() {
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string runtime = [] {
      char dir[] = "/tmp/quindelo-ui-test-XXXXXX";
      const char* made = mkdtemp(dir);
      return std::string(made ? made : "/tmp");
    }();
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    static int argc = 1;
    static char name[] = "quindelo-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return app;
}

}  // namespace quindelo::ui::testing
