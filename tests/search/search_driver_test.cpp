// The search driver: scheduling, the messages of every phase and end, rows
// inserted in sorted place, the row limit, and the stop rules (Stop, new
// typing, Refresh and closing during a find).
#include "search/search_driver.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/settings_store.h"
#include "content/containing_expression.h"
#include "search/find_request.h"
#include "platform/paths.h"
#include "support/mount_namespace.h"
#include "support/test_env.h"
#include "search/fake_window.h"

namespace quindelo {
namespace {

using test::FakeClock;
using test::FakeWindow;

// A window whose row hand-overs can run a hook (on the notify thread).
class HookedWindow : public FakeWindow {
 public:
  using FakeWindow::FakeWindow;
  std::function<void(int rows)> on_insert;
  std::function<void(const std::string&)> on_status;

  void RowsInserted(const ResultSet& rows, const std::vector<RowRange>& ranges) override {
    FakeWindow::RowsInserted(rows, ranges);
    {
      std::lock_guard<std::mutex> lock(log_lock_);
      for (const RowRange& range : ranges)
        for (int row = range.first; row < range.first + range.count; ++row)
          inserted_.push_back(rows.row(row));
    }
    if (on_insert) on_insert(rows.row_count());
  }
  void SetStatusText(const char* text) override {
    FakeWindow::SetStatusText(text);
    if (on_status) on_status(text);
  }
  std::vector<FoundFile*> inserted() const {
    std::lock_guard<std::mutex> lock(log_lock_);
    return inserted_;
  }

 private:
  mutable std::mutex log_lock_;
  std::vector<FoundFile*> inserted_;
};

using test::MediumDriver;
using test::QuickOptions;

// A one-shot gate: the notify thread waits in it until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool reached = false;
  bool open = false;
  void Reach() {
    std::unique_lock<std::mutex> lock(mutex);
    reached = true;
    cv.notify_all();
    cv.wait(lock, [this] { return open; });
  }
  void WaitReached() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [this] { return reached; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    cv.notify_all();
  }
};

class SearchDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = env_.MakeDrive('T', "drive"); }

  void File(const std::string& relative, const std::string& contents = "x") {
    std::filesystem::path path = root_ + "/" + relative;
    test::MakeFolder(path.parent_path().string());
    test::WriteTextFile(path.string(), contents);
  }

  // Sets the named box and types into it; waits for the find's end.
  FindEnd Find(SearchDriver* driver, FakeWindow* window, const std::string& named,
               const std::string& containing = "") {
    window->SetNamedText(named);
    window->SetContainingText(containing);
    driver->OnFindTextEdited(window->Request());
    return driver->WaitForFindEnd();
  }

  test::ScopedTestEnv env_;
  std::string root_;
};

// The stop rules, run with window calls on the caller's thread and again on
// a window thread of the window's own, where the notify thread waits for
// the window thread while the test's requests wait for the index.
class DriverThreadsTest : public SearchDriverTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Window, DriverThreadsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("OwnThread")
                                             : std::string("CallersThread");
                         });

// ---------------------------------------------------------------------------
// End messages of a find

TEST_F(SearchDriverTest, EndMessagesCountTheRows) {
  File("a1.txt");
  File("sub/a2.txt");
  File("b.dat");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  EXPECT_EQ(driver.open_drive_letter(), 'T');

  FindEnd end = Find(&driver, &window, "*.txt");
  EXPECT_EQ(end.message, "Found 2 files.");
  EXPECT_EQ(end.indicator, " ");
  EXPECT_EQ(end.outcome, FindOutcome::kFound);
  EXPECT_EQ(window.RowPaths(), (std::vector<std::string>{"T:\\a1.txt", "T:\\sub\\a2.txt"}));

  end = Find(&driver, &window, "b.dat");
  EXPECT_EQ(end.message, "Found one file.");
  EXPECT_EQ(window.RowPaths(), std::vector<std::string>{"T:\\b.dat"});

  end = Find(&driver, &window, "nothing-like-this");
  EXPECT_EQ(end.message, "No files found.  Check your search criteria.");
  EXPECT_EQ(end.outcome, FindOutcome::kNoneFound);
  EXPECT_TRUE(window.Rows().empty());
  EXPECT_EQ(window.status(), "No files found.  Check your search criteria.");
  EXPECT_EQ(driver.finds_started(), 3u);
}

TEST_F(SearchDriverTest, PhaseMessagesOfARunningFind) {
  File("sub/a.txt");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  EXPECT_TRUE(window.SawStatus("Opening index for drive T:..."));
  EXPECT_TRUE(window.SawStatus("Ready."));

  // With the refresh flag (Refresh, Include Subfolders, the file commands)
  // the find's refresh phase lists the drive, folder by folder.
  window.SetNamedText("a.txt");
  driver.set_refresh_flag(true);
  driver.ClearFirstFindLatch();
  driver.SetRequest(window.Request());
  driver.ScheduleFind();
  driver.WaitForFindEnd();
  EXPECT_FALSE(driver.refresh_flag());  // passed to one find only
  std::vector<std::string> statuses = window.statuses();
  auto position = [&](const std::string& text) {
    return std::find(statuses.begin(), statuses.end(), text) - statuses.begin();
  };
  const auto n = static_cast<long>(statuses.size());
  EXPECT_LT(position("Finding matching file names..."), n);
  // The folder being listed, followed by an asterisk inside the quotes.
  EXPECT_LT(position("Finding while updating \"T:\\sub\\*\"..."), n) << ::testing::PrintToString(statuses);
  EXPECT_LT(position("Find completed.  Compressing index file."), n);
  EXPECT_LT(position("Finding matching file names..."), position("Find completed.  Compressing index file."));
  EXPECT_EQ(statuses.back(), "Found one file.");
  EXPECT_FALSE(driver.result_set().deferred_details());
  EXPECT_FALSE(driver.running());
}

TEST_P(DriverThreadsTest, UserStoppedBeforeAnyRow) {
  for (int i = 0; i < 20; ++i) File("f" + std::to_string(i) + ".txt");
  HookedWindow window(GetParam());
  SearchDriver driver(&window, QuickOptions());
  // Stop as soon as the name phase begins: no row is ever inserted. (Set
  // before the open, whose background refresh writes the status too.)
  window.on_status = [&](const std::string& text) {
    if (text == "Finding matching file names...") driver.Stop();
  };
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  FindEnd end = Find(&driver, &window, "*.txt");
  EXPECT_EQ(end.message, "User stopped.");
  EXPECT_EQ(end.indicator, " ");
  EXPECT_TRUE(window.Rows().empty());
}

TEST_P(DriverThreadsTest, UserStoppedAfterTheFirstRow) {
  for (int i = 0; i < 30; ++i) File("f" + std::to_string(i) + ".txt");
  HookedWindow window(GetParam());
  // Time stands still, so only the first row is handed over before the end.
  FakeClock clock;
  SearchDriver::Options options = QuickOptions();
  options.clock = &clock;
  SearchDriver driver(&window, options);
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  window.on_insert = [&](int rows) {
    if (rows == 1) driver.Stop();
  };
  FindEnd end = Find(&driver, &window, "*.txt");
  const std::size_t rows = window.Rows().size();
  if (!GetParam()) {
    EXPECT_EQ(rows, 1u);
    EXPECT_EQ(end.message, "User stopped after finding 1 file(s).");
    EXPECT_EQ(end.outcome, FindOutcome::kUserStopped);
    return;
  }
  // A window of its own stops while the index goes on: the rows found
  // meanwhile arrive too, and the find may end before the Stop reaches it.
  // Either way the end counts the rows the list holds.
  EXPECT_GE(rows, 1u);
  if (end.outcome == FindOutcome::kUserStopped)
    EXPECT_EQ(end.message, "User stopped after finding " + std::to_string(rows) + " file(s).");
  else
    EXPECT_EQ(end.message, "Found " + std::to_string(rows) + " files.");
}

TEST_F(SearchDriverTest, DiskDriveNotReadyWhenTheMediumIsGone) {
  File("a.txt");
  FakeWindow window;
  MediumDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  driver.medium_gone = true;
  FindEnd end = Find(&driver, &window, "nothing");
  EXPECT_EQ(end.message, "Disk drive is not ready.");
  EXPECT_EQ(end.outcome, FindOutcome::kDriveNotReady);
  // Rows found on a removable drive still count as found.
  EXPECT_EQ(Find(&driver, &window, "a.txt").message, "Found one file.");
}

// A full disk under the index file: the find's end shows the failed write
// and its cause with "ERR" (the index gave a partial answer), never a count
// of files as if the answer were whole; the next open rebuilds it.
TEST_F(SearchDriverTest, FailedIndexWriteShowsInTheStatusLineWithItsCause) {
  std::string why;
  if (!test::EnterPrivateMountNamespace(&why)) GTEST_SKIP() << why;
  const std::string data = platform::DataFolder();
  test::MakeFolder(data);
  if (!test::MountTmpfs(data, std::size_t{1} << 20, &why)) GTEST_SKIP() << why;
  struct Unmounted {
    std::string folder;
    ~Unmounted() {
      std::string ignored;
      test::Unmount(folder, &ignored);
    }
  } unmounted{data};

  File("a.txt");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  ASSERT_EQ(Find(&driver, &window, "*.txt").message, "Found one file.");

  // The rest of the file system is taken, to its last byte.
  const int filler = open((data + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(filler, 0);
  const std::string block(4096, 'f');
  for (std::size_t piece = block.size(); piece > 0; piece /= 2)
    while (write(filler, block.data(), piece) == static_cast<ssize_t>(piece)) {
    }
  close(filler);
  for (int i = 0; i < 400; ++i) File("many/" + std::string(100, 'n') + std::to_string(i) + ".txt");

  // The find with the refresh flag (as after Refresh) walks the drive.
  driver.set_refresh_flag(true);
  driver.SetRequest(window.Request());
  driver.ScheduleFind();
  const FindEnd end = driver.WaitForFindEnd();
  const std::string prefix = "Unable to write index for drive T:! " + data + "/";
  const std::string cause = ": No space left on device";
  EXPECT_EQ(end.message.substr(0, prefix.size()), prefix) << end.message;
  EXPECT_GE(end.message.size(), prefix.size() + cause.size()) << end.message;
  EXPECT_EQ(end.message.substr(end.message.size() - std::min(end.message.size(), cause.size())),
            cause)
      << end.message;
  EXPECT_EQ(end.indicator, "ERR");
  EXPECT_EQ(window.status(), end.message);
  EXPECT_EQ(window.indicator(), "ERR");

  // With room again, the next open rebuilds the index and the end is plain.
  ASSERT_EQ(unlink((data + "/filler").c_str()), 0);
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  const FindEnd healed = Find(&driver, &window, "*.txt");
  EXPECT_EQ(healed.message, "Found 401 files.");
  EXPECT_EQ(healed.indicator, " ");
  driver.Shutdown();
}

// A folder of the drive swapped for a link to a decoy folder outside it
// after the index was built: a find containing a word that only the decoy's
// file holds finds nothing (the decoy is never read through the link), and a
// find of every name lists none of the decoy's own.
TEST_F(SearchDriverTest, FolderSwappedForALinkIsNeitherReadNorListed) {
  File("docs/notes.txt", "plain words");
  File("docs/sub/deeper.txt", "plain words");
  const std::string decoy = env_.Path("decoy");
  test::MakeFolder(decoy + "/sub");
  test::WriteTextFile(decoy + "/notes.txt", "secretword");
  test::WriteTextFile(decoy + "/sub/deeper.txt", "secretword");
  test::WriteTextFile(decoy + "/only_in_decoy.txt", "secretword");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  ASSERT_EQ(Find(&driver, &window, "*.txt", "plain").message, "Found 2 files.");

  ASSERT_EQ(std::rename((root_ + "/docs").c_str(), env_.Path("docs.away").c_str()), 0);
  ASSERT_EQ(symlink(decoy.c_str(), (root_ + "/docs").c_str()), 0);
  EXPECT_EQ(Find(&driver, &window, "*.txt", "secretword").message,
            "No files found.  Check your search criteria.");
  EXPECT_EQ(window.RowPaths(), std::vector<std::string>{});
  // The same with every folder listed again.
  window.SetNamedText("*");
  window.SetContainingText("");
  driver.set_refresh_flag(true);
  driver.SetRequest(window.Request());
  driver.ScheduleFind();
  driver.WaitForFindEnd();
  // (The index's own names of the folder may show until the refresh has
  // taken them out; the decoy's own name never does.)
  const std::vector<std::string> rows = window.RowPaths();
  EXPECT_TRUE(std::find(rows.begin(), rows.end(), "T:\\docs") != rows.end());
  for (const std::string& row : rows) EXPECT_EQ(row.find("only_in_decoy"), std::string::npos) << row;
  window.SetContainingText("secretword");
  driver.set_refresh_flag(true);
  driver.SetRequest(window.Request());
  driver.ScheduleFind();
  EXPECT_EQ(driver.WaitForFindEnd().message, "No files found.  Check your search criteria.");
  driver.Shutdown();
}

// ---------------------------------------------------------------------------
// The row limit and progress

TEST_F(SearchDriverTest, StopsAtTheRowLimitAndReportsProgress) {
  for (int f = 0; f < 10; ++f)
    for (int i = 0; i < 1005; ++i)
      File("d" + std::to_string(f) + "/n" + std::to_string(i) + ".txt", "");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  FindEnd end = Find(&driver, &window, "*.txt");
  EXPECT_EQ(end.message, "Stopped after maximum of 10000 files found.");
  EXPECT_EQ(end.outcome, FindOutcome::kRowLimit);
  EXPECT_EQ(window.Rows().size(), 10000u);
  EXPECT_TRUE(window.SawStatus("Found 100 files (press Esc key to stop)..."));
  EXPECT_TRUE(window.SawStatus("Found 9900 files (press Esc key to stop)..."));
  EXPECT_TRUE(window.SawStatus("Found 10000 files (press Esc key to stop)..."));
  EXPECT_FALSE(window.SawStatus("Found 150 files (press Esc key to stop)..."));

  // Without a limit (the command-line finder's --no-limit) every name is kept.
  FakeWindow unlimited_window;
  SearchDriver::Options options = QuickOptions();
  options.row_limit = 0;
  driver.Shutdown();
  SearchDriver unlimited(&unlimited_window, options);
  ASSERT_TRUE(unlimited.OpenDriveIndex("T:", false));
  EXPECT_EQ(Find(&unlimited, &unlimited_window, "*.txt").message, "Found 10050 files.");
  EXPECT_EQ(unlimited_window.Rows().size(), 10050u);
}

// ---------------------------------------------------------------------------
// Sorted insertion

TEST_F(SearchDriverTest, RowsStaySortedForEverySortKey) {
  // Names, folders, types, sizes and dates that disagree with each other.
  const char* names[] = {"zeta.txt", "Alpha.c", "mid.TXT", "beta.h", "Omega", "gamma.c"};
  int n = 0;
  for (const char* folder : {"b", "a/deep", "c"}) {
    for (const char* name : names) {
      std::string relative = std::string(folder) + "/" + name;
      File(relative, std::string(static_cast<std::size_t>((n * 7) % 13), 'x'));
      std::filesystem::last_write_time(root_ + "/" + relative,
                                       std::filesystem::file_time_type::clock::now() -
                                           std::chrono::hours((n * 5) % 11));
      ++n;
    }
  }
  for (int key = 0; key <= 4; ++key) {
    for (bool descending : {false, true}) {
      SCOPED_TRACE("key " + std::to_string(key) + (descending ? " descending" : ""));
      FakeWindow window;
      SearchDriver driver(&window, QuickOptions());
      SortOrder order{static_cast<SortKey>(key), descending};
      driver.set_sort_order(order);
      ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
      // 18 files and the folders a, a\deep, b and c.
      EXPECT_EQ(Find(&driver, &window, "*").message, "Found 22 files.");
      std::vector<FoundFile*> rows = window.Rows();
      for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        EXPECT_LE(CompareFoundFiles(rows[i], rows[i + 1], order, &driver.result_set().pool()), 0)
            << FullPath(*rows[i]) << " before " << FullPath(*rows[i + 1]);
    }
  }
}

TEST_F(SearchDriverTest, FoundFilesShareFolderTextsAndEqualRowsKeepArrivalOrder) {
  HookedWindow window;
  // Each found file comes a hand-over step after the one before, so each is
  // handed over on its own and inserted() is the order of arrival.
  FakeClock clock;
  SearchDriver::Options options = QuickOptions();
  options.clock = &clock;
  SearchDriver driver(&window, options);
  // A failed open leaves the find active with no index: the callback can be
  // fed by hand without any index thread calling it too.
  EXPECT_FALSE(driver.OpenDriveIndex("Q:", false));
  EXPECT_EQ(window.status(), "Unable to open index for drive Q:!");
  EXPECT_EQ(window.indicator(), "ERR");
  driver.set_sort_order({SortKey::kName, false});

  const char* arrivals[] = {"T:\\d\\same.txt", "T:\\d\\b.txt",    "T:\\root.txt",
                            "T:\\d\\same.txt", "T:\\e\\a.txt",    "T:\\d\\same.txt"};
  for (const char* path : arrivals) {
    EXPECT_EQ(driver.OnIndexMessage(FoundName{path}), IndexAnswer::kGoOn);
    clock.Advance(kRowHandOverMs);
  }

  std::vector<FoundFile*> rows = window.Rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(window.RowPaths(),
            (std::vector<std::string>{"T:\\e\\a.txt", "T:\\d\\b.txt", "T:\\root.txt",
                                      "T:\\d\\same.txt", "T:\\d\\same.txt", "T:\\d\\same.txt"}));
  std::vector<FoundFile*> inserted = window.inserted();
  // The three equal rows, in the order they arrived.
  EXPECT_EQ(rows[3], inserted[0]);
  EXPECT_EQ(rows[4], inserted[3]);
  EXPECT_EQ(rows[5], inserted[5]);
  // Consecutive files of one folder share its text; the root's is "T:\".
  EXPECT_EQ(inserted[0]->folder, inserted[1]->folder);
  EXPECT_STREQ(inserted[2]->folder, "T:\\");
  EXPECT_STREQ(inserted[3]->folder, "T:\\d");
  EXPECT_NE(inserted[3]->folder, inserted[0]->folder);  // T:\ came in between

  // A stopped find answers stop to found files and polls, and inserts nothing.
  driver.Stop();
  EXPECT_EQ(driver.OnIndexMessage(FoundName{"T:\\x.txt"}), IndexAnswer::kStop);
  EXPECT_EQ(driver.OnIndexMessage(PollRequest{}), IndexAnswer::kStop);
  EXPECT_EQ(window.Rows().size(), 6u);
}

// ---------------------------------------------------------------------------
// Rows handed to the window in batches

// A driver whose finds never reach the index: the test plays the index's
// notify thread itself, with the find running.
class HandFedDriver : public SearchDriver {
 public:
  using SearchDriver::SearchDriver;
  ~HandFedDriver() override { Shutdown(); }
  void WaitStarted() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return started_; });
  }

 protected:
  bool StartIndexFind(const FindRequest&, std::string*) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = true;
    }
    cv_.notify_all();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool started_ = false;
};

// Logs every hand-over as "rows N" (the list's rows after it) and every
// status text, in order.
class LogWindow : public FakeWindow {
 public:
  void RowsInserted(const ResultSet& rows, const std::vector<RowRange>& ranges) override {
    FakeWindow::RowsInserted(rows, ranges);
    Add("rows " + std::to_string(rows.row_count()));
  }
  void SetStatusText(const char* text) override {
    FakeWindow::SetStatusText(text);
    Add(text);
  }
  std::vector<std::string> log() const {
    std::lock_guard<std::mutex> lock(log_lock_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(log_lock_);
    log_.clear();
  }

 private:
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(log_lock_);
    log_.push_back(entry);
  }
  mutable std::mutex log_lock_;
  std::vector<std::string> log_;
};

// The i-th found path: 50 names in scrambled order, each name coming back
// every 50 arrivals in another letter case (equal rows under the list's
// order, told apart here by their case).
std::string ArrivalPath(int i) {
  static const char* const kStems[] = {"file", "FILE", "File", "fILE"};
  char number[8];
  std::snprintf(number, sizeof number, "%03d", (i * 37) % 50);
  return std::string("T:\\d\\") + kStems[(i / 50) % 4] + number + ".txt";
}

std::string Progress(int rows) {
  return "Found " + std::to_string(rows) + " files (press Esc key to stop)...";
}

TEST_F(SearchDriverTest, RowsReachTheWindowInBatches) {
  enum Kind { kRows, kMessage, kStop, kEnd };
  struct Event {
    std::uint32_t at_ms;  // after the find started
    Kind kind;
    int rows;
  };
  struct Scenario {
    const char* name;
    int focused;  // the focused row when Refresh starts the find
    std::vector<Event> events;
    std::vector<std::string> log;  // hand-overs and status texts
    int stops;                     // found files answered "stop"
    int selected;                  // the row selected at the end
  };
  std::vector<std::string> to_limit = {"rows 1", "rows 9991"};
  for (int n = 100; n <= 9900; n += 100) to_limit.push_back(Progress(n));
  for (const char* entry : {"rows 10000", "Found 10000 files (press Esc key to stop)...",
                            "Stopped after maximum of 10000 files found."})
    to_limit.push_back(entry);

  const Scenario scenarios[] = {
      {"bursts: the first row at once, then 50 ms steps, then the end",
       400,
       {{0, kRows, 120}, {30, kRows, 100}, {60, kRows, 30}, {70, kEnd, 0}},
       {"rows 1", "rows 221", Progress(100), Progress(200), "rows 250", "Found 250 files."},
       0,
       249},
      {"a row 49 ms after a hand-over waits, one 50 ms after goes",
       -1,
       {{0, kRows, 2}, {49, kRows, 1}, {50, kRows, 1}, {99, kRows, 1}, {100, kRows, 1},
        {101, kEnd, 0}},
       {"rows 1", "rows 4", "rows 6", "Found 6 files."},
       0,
       -1},
      {"a message after rows that reach a hundred shows after them",
       3,
       {{0, kRows, 150}, {10, kMessage, 0}, {20, kRows, 10}, {30, kMessage, 0}, {40, kEnd, 0}},
       {"rows 1", "rows 150", Progress(100), "Searching files...", "Searching files...",
        "rows 160", "Found 160 files."},
       0,
       3},
      {"the row limit is exact", -1, {{0, kRows, 9990}, {100, kRows, 20}, {110, kEnd, 0}},
       to_limit, 10, -1},
      {"user stopped after seven rows",
       -1,
       {{0, kRows, 7}, {5, kStop, 0}, {10, kRows, 3}, {20, kEnd, 0}},
       {"rows 1", "rows 7", "User stopped after finding 7 file(s)."},
       3,
       -1},
      {"user stopped before any row", -1, {{0, kStop, 0}, {1, kRows, 2}, {2, kEnd, 0}},
       {"User stopped."}, 2, -1},
  };

  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    FakeClock clock;
    LogWindow window;
    SearchDriver::Options options = QuickOptions();
    options.clock = &clock;
    options.index_only = true;  // no walk: only the test calls back
    HandFedDriver driver(&window, options);
    window.SetNamedText("*");
    window.SetFocusedRow(s.focused);
    driver.SetRequest(window.Request());
    driver.Refresh("T:", false, window.focused_row());  // opens the index and schedules the find
    driver.WaitStarted();
    ASSERT_TRUE(driver.running());
    window.ClearLog();

    std::uint32_t now = 0;
    int arrived = 0;
    int stops = 0;
    std::vector<std::string> kept;
    for (const Event& e : s.events) {
      clock.Advance(e.at_ms - now);
      now = e.at_ms;
      switch (e.kind) {
        case kRows:
          for (int i = 0; i < e.rows; ++i) {
            const std::string path = ArrivalPath(arrived++);
            if (driver.OnIndexMessage(FoundName{path}) == IndexAnswer::kGoOn)
              kept.push_back(path);
            else
              ++stops;
          }
          break;
        case kMessage:
          EXPECT_EQ(driver.OnIndexMessage(PhaseStarted{FindPhase::kContent}), IndexAnswer::kGoOn);
          break;
        case kStop:
          driver.Stop();
          break;
        case kEnd:
          EXPECT_EQ(driver.OnIndexMessage(FindEnded{}), IndexAnswer::kGoOn);
          break;
      }
    }
    EXPECT_EQ(window.log(), s.log);
    EXPECT_EQ(stops, s.stops);
    // Sorted by name whatever the case, equal names in their order of arrival.
    auto lower = [](std::string text) {
      for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      return text;
    };
    std::stable_sort(kept.begin(), kept.end(),
                     [&](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    EXPECT_EQ(window.RowPaths(), kept);
    EXPECT_EQ(window.selected_row(), s.selected);
    clock.Release();
  }
}

// ---------------------------------------------------------------------------
// The message table fed by hand

TEST_F(SearchDriverTest, MessagesOfTheIndexWithoutARunningFind) {
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  EXPECT_FALSE(driver.OpenDriveIndex("Q:", false));  // active, no index thread
  struct Case {
    IndexMessage message;
    const char* status;
    const char* indicator;
  } cases[] = {
      {RefreshProgress{"T:\\Windows\\"}, "Updating \"T:\\Windows\\*\"...", "BUSY"},
      {PhaseStarted{FindPhase::kRefresh}, "Updating name information.", "BUSY"},
      {PhaseStarted{FindPhase::kCompaction}, "Compressing index file.", " "},
      {ContentProgress{"T:\\a.txt"}, "Searching file \"T:\\a.txt\"...", "BUSY"},
      {PhaseStarted{FindPhase::kContent}, "Searching files...", "BUSY"},
      {PhaseStarted{FindPhase::kIndexFind}, "Finding matching file names...", "BUSY"},
      {FindEnded{}, "Ready.", " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    window.SetStatusText("-");
    window.SetIndicatorText("-");
    EXPECT_EQ(driver.OnIndexMessage(c.message), IndexAnswer::kGoOn);
    EXPECT_EQ(window.status(), c.status);
    EXPECT_EQ(window.indicator(), c.indicator);
  }
  // The final delivery and polls change nothing.
  window.SetStatusText("-");
  EXPECT_EQ(driver.OnIndexMessage(PhaseStarted{FindPhase::kFinalDelivery}), IndexAnswer::kGoOn);
  EXPECT_EQ(driver.OnIndexMessage(PollRequest{}), IndexAnswer::kGoOn);
  EXPECT_EQ(window.status(), "-");

  // The name phase defers details until the next message that is neither a
  // found file nor the name phase itself.
  driver.OnIndexMessage(PhaseStarted{FindPhase::kIndexFind});
  EXPECT_TRUE(driver.result_set().deferred_details());
  driver.OnIndexMessage(FoundName{"T:\\a.txt"});
  EXPECT_TRUE(driver.result_set().deferred_details());
  driver.OnIndexMessage(PhaseStarted{FindPhase::kRefresh});
  EXPECT_FALSE(driver.result_set().deferred_details());

  // A folder text too long for the pane is cut to 255 characters.
  std::string long_folder = "T:\\" + std::string(300, 'f') + "\\";
  driver.OnIndexMessage(RefreshProgress{long_folder});
  EXPECT_EQ(window.status().size(), 255u);
  EXPECT_EQ(window.status().rfind("Updating \"T:\\fff", 0), 0u);
}

// ---------------------------------------------------------------------------
// Refused finds

TEST_F(SearchDriverTest, RefusedNamedAndContainingTexts) {
  File("a.txt", "hello");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  EXPECT_EQ(Find(&driver, &window, "a.txt").message, "Found one file.");

  FindEnd end = Find(&driver, &window, "\\temp\\*.txt");
  EXPECT_EQ(end.message, "Name must be a simple name, path not allowed.");
  EXPECT_EQ(end.indicator, "ERR");
  EXPECT_EQ(end.outcome, FindOutcome::kError);
  EXPECT_EQ(window.indicator(), "ERR");
  EXPECT_TRUE(window.Rows().empty());

  int refused = 0;
  for (const char* bad : {"(hello", "hello)", "\"unclosed", "AND"}) {
    SCOPED_TRACE(bad);
    ContainingExpression expression;
    std::string compiler_message;
    if (expression.Compile(bad, &compiler_message)) continue;  // not an error in this language
    ++refused;
    EXPECT_EQ(Find(&driver, &window, "a.txt").message, "Found one file.");
    end = Find(&driver, &window, "a.txt", bad);
    EXPECT_EQ(end.message, compiler_message + "!");
    EXPECT_EQ(window.status(), compiler_message + "!");
    EXPECT_EQ(end.indicator, "ERR");
    EXPECT_EQ(end.outcome, FindOutcome::kError);
    EXPECT_TRUE(window.Rows().empty());
    EXPECT_FALSE(driver.running());
  }
  EXPECT_GE(refused, 1);
  // A containing text that compiles searches the contents.
  EXPECT_EQ(Find(&driver, &window, "a.txt", "hello").message, "Found one file.");
  EXPECT_EQ(Find(&driver, &window, "a.txt", "goodbye").message,
            "No files found.  Check your search criteria.");
}

// ---------------------------------------------------------------------------
// Scheduling

TEST_F(SearchDriverTest, FindDelayComesFromTheSettings) {
  FakeWindow window;
  SearchDriver::Options options;
  options.index_options.watch_changes = false;
  {
    SearchDriver driver(&window, options);
    EXPECT_EQ(driver.find_delay_ms(), 500);  // missing
  }
  SettingsStore store;
  ASSERT_TRUE(store.WriteInt(settings::kSettings, settings::kKeyboardIdleMSecs, 0));
  {
    SearchDriver driver(&window, options);
    EXPECT_EQ(driver.find_delay_ms(), 0);
  }
  ASSERT_TRUE(store.WriteInt(settings::kSettings, settings::kKeyboardIdleMSecs, -20));
  {
    SearchDriver driver(&window, options);
    EXPECT_EQ(driver.find_delay_ms(), 500);
  }
  options.find_delay_ms = -1;
  SearchDriver driver(&window, options);
  EXPECT_EQ(driver.find_delay_ms(), 500);
}

TEST_F(SearchDriverTest, ABurstOfKeystrokesStartsOneFindTheDelayAfterTheLast) {
  File("abcd.txt");
  FakeClock clock;  // starts at 1000
  FakeWindow window;
  SearchDriver::Options options;
  options.find_delay_ms = 500;
  options.clock = &clock;
  options.index_options.watch_changes = false;
  SearchDriver driver(&window, options);
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));

  std::string typed;
  for (char c : std::string("abcd")) {
    typed.push_back(c);
    window.SetNamedText(typed);
    driver.OnFindTextEdited(window.Request());
    // The starter sleeps until the first deadline, 1500.
    if (c == 'a') {
      ASSERT_TRUE(clock.WaitForSleeper(1500));
    }
    if (c != 'd') clock.Advance(100);
  }
  // At 1500 it finds the deadline moved to 1800, 500 ms after the fourth
  // keystroke at 1300, and sleeps again.
  clock.Advance(200);  // 1500
  ASSERT_TRUE(clock.WaitForSleeper(1800));
  EXPECT_EQ(driver.finds_started(), 0u);
  clock.Advance(299);  // 1799: not yet
  ASSERT_TRUE(clock.WaitForSleeper(1800));
  EXPECT_EQ(driver.finds_started(), 0u);
  clock.Advance(1);
  FindEnd end = driver.WaitForFindEnd();
  EXPECT_EQ(end.message, "Found one file.");
  EXPECT_EQ(driver.finds_started(), 1u);
  clock.Release();
}

TEST_F(SearchDriverTest, FirstFindLatchAndEmptyingTheNamedBox) {
  File("a.txt");
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  // An edit that leaves the named box empty at start-up runs no find.
  window.ClearHistory();
  driver.OnFindTextEdited(window.Request());
  driver.WaitForFindEnd();
  EXPECT_TRUE(driver.first_find_latch());
  EXPECT_EQ(driver.finds_started(), 0u);

  EXPECT_EQ(Find(&driver, &window, "a").message, "Found one file.");
  EXPECT_FALSE(driver.first_find_latch());
  // Emptying it later runs one more pass, which empties the list.
  window.ClearHistory();
  FindEnd end = Find(&driver, &window, "");
  EXPECT_EQ(end.message, "Ready.");
  EXPECT_EQ(window.status(), "Ready.");
  EXPECT_TRUE(window.Rows().empty());
  EXPECT_EQ(driver.finds_started(), 1u);
}

TEST_F(SearchDriverTest, EditsClearTheRefreshFlag) {
  FakeWindow window;
  SearchDriver driver(&window, QuickOptions());
  driver.set_refresh_flag(true);
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  EXPECT_TRUE(driver.refresh_flag());  // an open keeps it for the next find
  driver.OnFindTextEdited(window.Request());
  EXPECT_FALSE(driver.refresh_flag());
}

// ---------------------------------------------------------------------------
// Refresh and closing during a find

TEST_P(DriverThreadsTest, RefreshDuringAFindRestartsItAndReselectsTheRow) {
  for (int i = 0; i < 40; ++i) File("f" + std::to_string(100 + i) + ".txt");
  HookedWindow window(GetParam());
  SearchDriver driver(&window, QuickOptions());
  Gate gate;
  std::atomic<bool> hold{true};
  // The index's notify thread is held as it shows the name phase (the hook
  // is set before the index's threads show anything).
  window.on_status = [&](const std::string& text) {
    if (text == "Finding matching file names..." && hold.exchange(false)) gate.Reach();
  };
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  window.SetNamedText("*.txt");
  driver.OnFindTextEdited(window.Request());
  gate.WaitReached();  // the find is running, held in its name phase
  ASSERT_TRUE(driver.running());
  window.SetFocusedRow(3);
  window.ClearHistory();
  driver.SetRequest(window.Request());
  driver.Refresh("T:", false, window.focused_row());  // deferred to the end of the running find
  gate.Open();
  ASSERT_EQ(window.WaitForPostedCommand(), kCommandRefresh);
  // That find ended without an end message.
  for (const std::string& s : window.statuses()) EXPECT_EQ(s.find("User stopped"), std::string::npos);

  // The posted command runs Refresh again: the index is reopened and the
  // find runs anew, then the focused row is selected again.
  driver.SetRequest(window.Request());
  driver.Refresh("T:", false, window.focused_row());
  FindEnd end = driver.WaitForFindEnd();
  EXPECT_EQ(end.message, "Found 40 files.");
  EXPECT_TRUE(window.SawStatus("Opening index for drive T:..."));
  EXPECT_EQ(window.Rows().size(), 40u);
  EXPECT_EQ(window.selected_row(), 3);
  EXPECT_EQ(driver.finds_started(), 2u);

  // A reselect row beyond the list is clamped to its last row.
  window.SetFocusedRow(500);
  driver.SetRequest(window.Request());
  driver.Refresh("T:", false, window.focused_row());
  driver.WaitForFindEnd();
  EXPECT_EQ(window.selected_row(), 39);
}

TEST_P(DriverThreadsTest, ClosingDuringAFindClosesAfterItsEnd) {
  for (int i = 0; i < 40; ++i) File("f" + std::to_string(i) + ".txt");
  HookedWindow window(GetParam());
  SearchDriver driver(&window, QuickOptions());
  Gate gate;
  std::atomic<bool> hold{true};
  // The index's notify thread is held as it shows the name phase (the hook
  // is set before the index's threads show anything).
  window.on_status = [&](const std::string& text) {
    if (text == "Finding matching file names..." && hold.exchange(false)) gate.Reach();
  };
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  window.SetNamedText("*.txt");
  driver.OnFindTextEdited(window.Request());
  gate.WaitReached();
  window.ClearHistory();
  EXPECT_FALSE(driver.RequestClose());  // a find runs: the close waits for its end
  EXPECT_EQ(window.close_requests(), 0);
  gate.Open();
  ASSERT_TRUE(window.WaitForCloseRequests(1));
  driver.WaitForFindEnd();
  EXPECT_EQ(window.close_requests(), 1);
  for (const std::string& s : window.statuses()) EXPECT_EQ(s.find("User stopped"), std::string::npos);
  // Now nothing runs: the form may close at once, and no find is scheduled.
  EXPECT_TRUE(driver.RequestClose());
  driver.SetRequest(window.Request());
  driver.ScheduleFind();
  driver.WaitForFindEnd();
  EXPECT_EQ(driver.finds_started(), 1u);
  driver.Shutdown();
  EXPECT_EQ(window.close_requests(), 1);
}

// A driver that runs a request of the form (a close or a Refresh) at the
// moment a find is handed to the index: the running flag is set, and the
// index has not answered yet.
class RacingDriver : public SearchDriver {
 public:
  using SearchDriver::SearchDriver;
  ~RacingDriver() override { Shutdown(); }
  std::function<void()> before_start;

 protected:
  bool StartIndexFind(const FindRequest& request, std::string* error) override {
    if (before_start) std::exchange(before_start, nullptr)();
    return SearchDriver::StartIndexFind(request, error);
  }
};

TEST_F(SearchDriverTest, CloseOrRefreshDeferredToARefusedFindIsNotLost) {
  File("a.txt", "hello");
  {
    FakeWindow window;
    RacingDriver driver(&window, QuickOptions());
    ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
    bool may_close = true;
    driver.before_start = [&] { may_close = driver.RequestClose(); };
    FindEnd end = Find(&driver, &window, "a.txt", "(hello");
    EXPECT_EQ(end.message, "Mismatched parenthesis in the expression!");
    // The close waited for the end of a find that never started: it must
    // still be carried out.
    EXPECT_FALSE(may_close);
    EXPECT_EQ(window.close_requests(), 1);
  }
  {
    FakeWindow window;
    RacingDriver driver(&window, QuickOptions());
    ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
    driver.before_start = [&] { driver.Refresh("T:", false, window.focused_row()); };
    FindEnd end = Find(&driver, &window, "a.txt", "(hello");
    EXPECT_EQ(end.message, "Mismatched parenthesis in the expression!");
    EXPECT_EQ(window.TakePostedCommands(), std::vector<int>{kCommandRefresh});
    // The posted Refresh runs, and the next find is not answered "stop".
    driver.SetRequest(window.Request());
    driver.Refresh("T:", false, window.focused_row());
    driver.WaitForFindEnd();
    window.SetContainingText("");
    EXPECT_EQ(Find(&driver, &window, "a.txt").message, "Found one file.");
  }
}

TEST_P(DriverThreadsTest, NewTypingReplacesARunningFind) {
  for (int i = 0; i < 40; ++i) File("f" + std::to_string(i) + ".txt");
  File("other.dat");
  HookedWindow window(GetParam());
  SearchDriver driver(&window, QuickOptions());
  Gate gate;
  std::atomic<bool> hold{true};
  // The index's notify thread is held as it shows the name phase (the hook
  // is set before the index's threads show anything).
  window.on_status = [&](const std::string& text) {
    if (text == "Finding matching file names..." && hold.exchange(false)) gate.Reach();
  };
  ASSERT_TRUE(driver.OpenDriveIndex("T:", false));
  window.SetNamedText("*.txt");
  driver.OnFindTextEdited(window.Request());
  gate.WaitReached();
  window.SetNamedText("other.dat");
  driver.OnFindTextEdited(window.Request());  // the new starter stops the running find
  gate.Open();
  FindEnd end = driver.WaitForFindEnd();
  EXPECT_EQ(end.message, "Found one file.");
  EXPECT_EQ(window.RowPaths(), std::vector<std::string>{"T:\\other.dat"});
  for (const std::string& s : window.statuses()) EXPECT_EQ(s.find("User stopped"), std::string::npos);
}

}  // namespace
}  // namespace quindelo
