// The results list with a full result set, offscreen: 10,000 rows of real
// files arrive in batches at their sorted places (as the search driver hands
// them over), the list is scrolled from end to end with the Type, Size and
// Date columns shown, then re-sorted by each key, and sorted by type, size
// and date in result sets with no details fetched yet. Reports the time of each
// step, the longest single step the window thread spends (the window
// answers nothing meanwhile), how many records had their details fetched,
// and the peak memory of the process beside that of the window with an
// empty list.
//
//   build/bin/ui_results_bench [rows] [batch]
//
// rows defaults to 10000 and batch (rows per hand-over) to 200. The files
// live in a temporary folder mapped as drive B:, removed at the end.
#include <QApplication>
#include <QScrollBar>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/settings_file.h"
#include "search/found_file.h"
#include "ui/file_types.h"
#include "ui/results_view.h"

namespace {

using Clock = std::chrono::steady_clock;
using quindelo::FoundFile;
using quindelo::ResultSet;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A value of /proc/self/status in kB (VmHWM: peak resident memory).
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
  return -1;
}

// rows files in folders of 100, with mixed extensions, sizes and times.
std::vector<std::string> MakeFiles(const std::string& root, int rows) {
  const char* const kExtensions[] = {".txt", ".c", ".png", ".pdf", ".html", ".md", "", ".tar.gz"};
  std::mt19937 random(42);
  std::vector<std::string> paths;
  for (int i = 0; i < rows; ++i) {
    const int folder = i / 100;
    const std::string relative = "proj" + std::to_string(folder % 7) + "/dir" +
                                 std::to_string(folder) + "/file" + std::to_string(random() % 100000) +
                                 "_" + std::to_string(i) + kExtensions[random() % 8];
    const std::string native = root + "/" + relative;
    std::filesystem::create_directories(native.substr(0, native.rfind('/')));
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(random() % 5000000)) != 0) {
      std::perror(native.c_str());
      std::exit(1);
    }
    close(fd);
    const time_t when = 1500000000 + static_cast<time_t>(random() % 200000000);
    struct timespec times[2] = {{when, 0}, {when, 0}};
    utimensat(AT_FDCWD, native.c_str(), times, 0);
    std::string drive_path = "B:\\" + relative;
    std::replace(drive_path.begin(), drive_path.end(), '/', '\\');
    paths.push_back(drive_path);
  }
  return paths;
}

struct Step {
  double total_ms = 0;
  double first_ms = -1;   // the first includes the first paint and icons
  double longest_ms = 0;  // of the others
  void Add(Clock::duration d) {
    total_ms += Ms(d);
    if (first_ms < 0)
      first_ms = Ms(d);
    else
      longest_ms = std::max(longest_ms, Ms(d));
  }
};

int FetchedRows(const quindelo::ui::ResultsModel& model) {
  int fetched = 0;
  for (int row = 0; row < model.RowCount(); ++row) fetched += model.RowRecord(row)->size_fetched();
  return fetched;
}

// Pages through the list from top to bottom, painting each page.
Step ScrollEndToEnd(quindelo::ui::ResultsView* view) {
  Step step;
  QScrollBar* bar = view->verticalScrollBar();
  bar->setValue(0);
  QApplication::processEvents();
  for (;;) {
    const auto start = Clock::now();
    view->viewport()->repaint();
    QApplication::processEvents();
    step.Add(Clock::now() - start);
    if (bar->value() >= bar->maximum()) break;
    bar->setValue(bar->value() + bar->pageStep());
  }
  return step;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const int batch = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;

  char pattern[] = "/tmp/quindelo-ui-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) return 1;
  const std::string root = made;
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  quindelo::platform::SettingsWriteInt("Drives", "Auto", 0);
  quindelo::platform::SettingsWriteString("Drives", "B", root + "/drive");
  std::vector<std::string> paths = MakeFiles(root + "/drive", rows);
  std::shuffle(paths.begin(), paths.end(), std::mt19937(7));  // index order is not list order

  QApplication app(argc, argv);
  quindelo::ResultSet result_set;
  quindelo::ResultsPool& pool = result_set.pool();
  quindelo::ui::ResultsView view;
  view.resize(1000, 700);
  quindelo::ViewOptions options;
  options.show_type = options.show_size = options.show_date = 1;
  view.SetViewOptions(options);
  quindelo::ui::ResultsModel& model = *view.results();
  model.SetResultSet(&result_set);
  view.show();
  QApplication::processEvents();
  const long empty_peak_kb = StatusKb("VmHWM");

  // Fill: each hand-over places its rows as the driver does and paints.
  Step fill;
  quindelo::CurrentFolder current;
  const quindelo::SortOrder order = model.sort_order();
  for (std::size_t first = 0; first < paths.size(); first += static_cast<std::size_t>(batch)) {
    const auto start = Clock::now();
    const std::size_t end = std::min(paths.size(), first + static_cast<std::size_t>(batch));
    std::vector<FoundFile*> list;
    for (int row = 0; row < model.RowCount(); ++row) list.push_back(model.RowRecord(row));
    std::vector<FoundFile*> added;
    for (std::size_t i = first; i < end; ++i) {
      FoundFile* record = pool.AddFoundFile(paths[i], &current);
      std::size_t at = 0;
      quindelo::FindInsertRow(
          list.size(),
          [&](std::size_t row) { return quindelo::CompareFoundFiles(record, list[row], order, &pool); },
          [] { return true; }, &at);
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), record);
      added.push_back(record);
    }
    std::sort(added.begin(), added.end());
    std::vector<ResultSet::Placed> inserts;
    for (std::size_t row = 0; row < list.size(); ++row)
      if (std::binary_search(added.begin(), added.end(), list[row]))
        inserts.push_back({static_cast<int>(row), list[row]});
    model.result_set()->InsertPlaced(inserts);
    view.viewport()->repaint();
    QApplication::processEvents();
    fill.Add(Clock::now() - start);
  }
  const int fetched_after_fill = FetchedRows(model);

  const Step scroll = ScrollEndToEnd(&view);
  const int fetched_after_scroll = FetchedRows(model);

  std::printf("rows %d, hand-overs of %d rows, list 1000x700 offscreen, Type/Size/Date shown\n",
              model.RowCount(), batch);
  std::printf("%-34s %10.1f ms  (first hand-over %.1f ms, longest other %.1f ms)\n", "fill",
              fill.total_ms, fill.first_ms, fill.longest_ms);
  std::printf("%-34s %10d\n", "rows with details after fill", fetched_after_fill);
  std::printf("%-34s %10.1f ms  (longest page %.1f ms)\n", "scroll end to end", scroll.total_ms,
              scroll.longest_ms);
  std::printf("%-34s %10d\n", "rows with details after scroll", fetched_after_scroll);

  double longest = std::max({fill.first_ms, fill.longest_ms, scroll.first_ms, scroll.longest_ms});
  const char* const kKeys[] = {"Name", "Folder", "Type", "Size", "Date"};
  for (int pass = 0; pass < 2; ++pass) {
    for (int key = 0; key < quindelo::kViewColumnCount; ++key) {
      const auto start = Clock::now();
      model.sort(model.ModelColumn(key), pass ? Qt::DescendingOrder : Qt::AscendingOrder);
      view.viewport()->repaint();
      QApplication::processEvents();
      const double ms = Ms(Clock::now() - start);
      longest = std::max(longest, ms);
      std::printf("sort by %-6s %-19s %10.1f ms\n", kKeys[key],
                  pass ? "descending" : "ascending (first)", ms);
    }
  }
  const Step scroll_again = ScrollEndToEnd(&view);
  double longest_sort_stall = 0;

  std::printf("%-34s %10.1f ms  (longest page %.1f ms)\n", "scroll again, details in records",
              scroll_again.total_ms, scroll_again.longest_ms);
  longest = std::max({longest, scroll_again.first_ms, scroll_again.longest_ms});
  std::printf("%-34s %10.1f ms\n", "longest window-thread step", longest);
  std::printf("%-34s %10ld kB\n", "peak memory, empty list", empty_peak_kb);
  std::printf("%-34s %10ld kB\n", "peak memory, full list", StatusKb("VmHWM"));

  // Sorting by a key whose details no record has yet: every file is looked
  // at once (a new result set for each key). The window thread's longest
  // step is the sort command itself or one turn of its event loop until the
  // rows stand in the new order; the time to that is reported beside it.
  for (int key : {quindelo::kColumnType, quindelo::kColumnSize, quindelo::kColumnDate}) {
    result_set.Clear();
    quindelo::CurrentFolder fresh;
    std::vector<ResultSet::Placed> all;
    for (const std::string& path : paths)
      all.push_back({static_cast<int>(all.size()), pool.AddFoundFile(path, &fresh)});
    model.sort(model.ModelColumn(quindelo::kColumnName), Qt::AscendingOrder);
    model.result_set()->InsertPlaced(all);
    QApplication::processEvents();
    const quindelo::FileDetail needed =
        key == quindelo::kColumnType ? quindelo::FileDetail::kType : quindelo::FileDetail::kSizeAndDate;
    auto in_order = [&] {
      const quindelo::SortOrder by = model.sort_order();
      if (static_cast<int>(by.key) != key) return false;
      for (int row = 0; row < model.RowCount(); ++row) {
        FoundFile* record = model.RowRecord(row);
        if (needed == quindelo::FileDetail::kType ? !record->type_fetched() : !record->size_fetched())
          return false;
        if (row > 0 && quindelo::CompareFoundFiles(model.RowRecord(row - 1), record, by, &pool) > 0)
          return false;
      }
      return true;
    };
    const auto start = Clock::now();
    double stall = 0;
    auto step = [&](auto&& work) {
      const auto begin = Clock::now();
      work();
      stall = std::max(stall, Ms(Clock::now() - begin));
    };
    step([&] { model.sort(model.ModelColumn(key), Qt::AscendingOrder); });
    step([&] {
      view.viewport()->repaint();
      QApplication::processEvents();
    });
    while (!in_order()) step([] { QApplication::processEvents(); });
    const double sorted_ms = Ms(Clock::now() - start);
    longest_sort_stall = std::max(longest_sort_stall, stall);
    std::printf("sort by %-6s %-19s %10.1f ms  (longest window-thread step %.1f ms)\n", kKeys[key],
                "nothing fetched yet", sorted_ms, stall);
  }
  std::printf("%-34s %10.1f ms\n", "longest step, sorts from nothing", longest_sort_stall);
  std::printf("%-34s %10d\n", "distinct icons", view.results()->file_types()->IconCount());

  view.results()->SetResultSet(nullptr);
  std::filesystem::remove_all(root);
  return 0;
}
