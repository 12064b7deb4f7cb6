// ui_form_bench: the window's find over a whole drive, offscreen, from the
// first keystroke in the Named box to the first row and to the end message
// with the last row shown, with the longest time the window thread did not
// answer (a 1 ms QTimer heartbeat), and the memory of the window with an
// empty list and with the rows found.
//
//   build/bin/ui_form_bench [--drive C:] [--folder DIR] [--named '*'] [--runs 3] [--delay-ms 0]
//
// Settings and index files go to a temporary folder; the drive's index is
// built first (not timed). The drive letters are the machine's own (C: is /),
// unless --folder maps the drive to DIR (as the Drives settings do), e.g. a
// tree made by bench/make_tree.py.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "search/search_driver.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/results_view.h"

namespace {

// A value of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  return -1;
}

// Times every event the window thread handles, so that a long silence of
// the heartbeat can be told apart: one slow event, or no CPU time at all.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (depth_++ > 0) {
      const bool handled = QApplication::notify(receiver, event);
      --depth_;
      return handled;
    }
    const int type = event->type();
    QElapsedTimer timer;
    timer.start();
    const bool handled = QApplication::notify(receiver, event);
    const qint64 ns = timer.nsecsElapsed();
    --depth_;
    if (measuring && ns > longest_ns) {
      longest_ns = ns;
      longest_type = type;
    }
    return handled;
  }
  bool measuring = false;
  qint64 longest_ns = 0;
  int longest_type = 0;

 private:
  int depth_ = 0;
};

bool RunUntil(const std::function<bool()>& done, int limit_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit_ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string drive = "C:";
  std::string named = "*";
  std::string folder;
  int runs = 3;
  int delay_ms = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--drive") drive = argv[i + 1];
    else if (option == "--named") named = argv[i + 1];
    else if (option == "--folder") folder = argv[i + 1];
    else if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--delay-ms") delay_ms = std::max(0, std::atoi(argv[i + 1]));
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
  setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
  setenv("XDG_RUNTIME_DIR", home.path().toUtf8().constData(), 1);
  TimedApplication app(argc, argv);
  {
    quindelo::SettingsStore store;
    store.WriteString("Controls", "LookIn", drive);
    if (!folder.empty()) store.WriteString("Drives", drive.substr(0, 1), folder);
    store.WriteInt("Settings", "KeyboardIdleMSecs", delay_ms);
  }

  quindelo::ui::MainFrame frame;
  frame.set_url_opener([](const QString&) {});
  frame.Start("");
  frame.resize(1000, 700);
  frame.show();
  quindelo::ui::FindForm* form = frame.form();
  quindelo::SearchDriver* driver = form->driver();

  // The index: opened (built on first use) and brought up to date, untimed.
  QElapsedTimer build;
  build.start();
  if (!RunUntil([&] { return form->named_box()->isEnabled(); }, 600000)) {
    std::fprintf(stderr, "ui_form_bench: %s did not open: %s\n", drive.c_str(),
                 form->status_text().toUtf8().constData());
    return 1;
  }
  // The walk after the open reports its folders; the index is up to date
  // once "Ready." has stood for three seconds.
  QString seen;
  QElapsedTimer steady;
  steady.start();
  RunUntil(
      [&] {
        if (form->status_text() != seen) {
          seen = form->status_text();
          steady.restart();
        }
        return seen == "Ready." && form->indicator_text() == " " && steady.elapsed() > 3000;
      },
      1800000);
  std::printf("index of %s ready after %.1f s (not timed below)\n", drive.c_str(),
              build.elapsed() / 1000.0);
  const long empty_rss = StatusKb("VmRSS");

  // The heartbeat: the longest gap between two ticks of a 1 ms timer while
  // a find runs is the longest time the window did not answer.
  QElapsedTimer clock;
  clock.start();
  qint64 last_tick = 0;
  qint64 longest_gap = 0;
  bool measuring = false;
  QTimer heartbeat;
  heartbeat.setInterval(1);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (measuring) longest_gap = std::max(longest_gap, now - last_tick);
    last_tick = now;
  });
  heartbeat.start();

  long rows_rss = 0;
  for (int run = 0; run < runs; ++run) {
    // Each run types the pattern anew (an empty box between runs).
    form->named_box()->lineEdit()->clear();
    RunUntil([&] { return !driver->running() && form->RowCount() == 0; }, 60000);
    RunUntil([] { return false; }, 200);
    longest_gap = 0;
    last_tick = clock.nsecsElapsed();
    measuring = true;
    app.longest_ns = 0;
    app.measuring = true;
    const qint64 start = clock.nsecsElapsed();
    qint64 first_row = 0;
    form->named_box()->setFocus();
    form->named_box()->lineEdit()->insert(QString::fromStdString(named));
    const bool ended = RunUntil(
        [&] {
          if (first_row == 0 && form->RowCount() > 0) first_row = clock.nsecsElapsed();
          // The end message, not a progress message ("...").
          const QString status = form->status_text();
          return !driver->running() && !status.endsWith(QStringLiteral("...")) &&
                 (status.startsWith("Found") || status.startsWith("Stopped after") ||
                  status.startsWith("No files"));
        },
        600000);
    // The last row shown: the list painted with every row in.
    form->results_view()->viewport()->repaint();
    const qint64 shown = clock.nsecsElapsed();
    measuring = false;
    app.measuring = false;
    rows_rss = std::max(rows_rss, StatusKb("VmRSS"));
    std::printf("run %d: %d rows, \"%s\": first keystroke to first row %.1f ms, "
                "to the end message and last row shown %.1f ms; "
                "longest time without answering %.1f ms (longest single event %.1f ms, "
                "event type %d)%s\n",
                run + 1, form->RowCount(), form->status_text().toUtf8().constData(),
                first_row == 0 ? 0.0 : (first_row - start) / 1e6, (shown - start) / 1e6, longest_gap / 1e6, app.longest_ns / 1e6,
                app.longest_type, ended ? "" : " (did not end)");
  }
  std::printf("memory: empty list RSS %ld kB; with the rows RSS %ld kB; peak (VmHWM) %ld kB\n",
              empty_rss, rows_rss, StatusKb("VmHWM"));
  frame.close();
  RunUntil([&] { return form->closed(); }, 60000);
  return 0;
}
