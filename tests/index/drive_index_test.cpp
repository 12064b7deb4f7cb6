// Drive index scenarios on temporary drives: the first build, refreshes that
// change nothing, names appearing and vanishing, scope, stop and resume,
// and the rebuild of indexes that do not fit the volume.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "index/drive_index.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/request_of.h"
#include "index/raw_index_file.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::MakeFolder;
using test::WriteTextFile;

IndexAnswer StopIf(bool stop) { return stop ? IndexAnswer::kStop : IndexAnswer::kGoOn; }

// Records every message of an index and waits for its ends.
class Recorder : public IndexClient {
 public:
  using Answer = std::function<IndexAnswer(IndexEvent event, const std::string& text)>;
  // Sets the answer for each message.
  void SetAnswer(Answer a) {
    std::lock_guard<std::mutex> lock(lock_);
    answer_ = std::move(a);
  }

  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    const IndexEvent event = EventOf(message);
    const std::string t(TextOf(message));
    Answer answer;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (event != IndexEvent::kPoll) messages_.push_back(message);
      if (event == IndexEvent::kIdle) ++ends_;
      answer = answer_;
    }
    cv_.notify_all();
    return answer ? answer(event, t) : IndexAnswer::kGoOn;
  }

  // Waits until the number of ends since the last Clear reaches n.
  void WaitForEnds(int n = 1) {
    std::unique_lock<std::mutex> lock(lock_);
    cv_.wait(lock, [&] { return ends_ >= n; });
  }
  // Waits (at most timeout) until message (event, text) has arrived n times.
  bool WaitForMessage(IndexEvent event, const std::string& text, int n,
                      std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    return cv_.wait_for(lock, timeout, [&] {
      return std::count_if(messages_.begin(), messages_.end(), [&](const IndexMessage& m) {
               return EventOf(m) == event && TextOf(m) == text;
             }) >= n;
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    messages_.clear();
    ends_ = 0;
  }
  std::vector<IndexMessage> messages() {
    std::lock_guard<std::mutex> lock(lock_);
    return messages_;
  }
  std::vector<std::string> Texts(IndexEvent event) {
    std::vector<std::string> out;
    for (const IndexMessage& m : messages())
      if (EventOf(m) == event) out.emplace_back(TextOf(m));
    return out;
  }
  std::vector<IndexEvent> Events() {
    std::vector<IndexEvent> out;
    for (const IndexMessage& m : messages()) out.push_back(EventOf(m));
    return out;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<IndexMessage> messages_;
  int ends_ = 0;
  Answer answer_;  // guarded by lock_
};

class DriveIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = env_.MakeDrive('T', "drive");
    index_path_ = platform::IndexFilePath('T');
  }

  DriveIndex::Options NoWatcher() {
    DriveIndex::Options o;
    o.watch_changes = false;
    return o;
  }

  // Opens T: and waits for the refresh that every open starts.
  void OpenAndSettle(DriveIndex* index, bool rebuild = false) {
    rec_.Clear();
    ASSERT_TRUE(index->Open(index_path_, "T:", &rec_, rebuild));
    rec_.WaitForEnds();
  }

  // Runs one find to its end; returns the found paths.
  std::vector<std::string> Find(DriveIndex* index, const std::string& named,
                                std::vector<std::string> look_in = {}, bool subfolders = true,
                                bool refresh = false, const std::string& containing = "") {
    index->StopAndWait();
    rec_.Clear();
    std::string message;
    EXPECT_TRUE(index->StartFind(RequestOf(named, look_in, containing, subfolders, refresh), &message))
        << message;
    rec_.WaitForEnds();
    return rec_.Texts(IndexEvent::kFound);
  }

  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  std::string P(const std::string& rel) { return root_ + "/" + rel; }

  test::ScopedTestEnv env_;
  std::string root_;
  std::string index_path_;
  Recorder rec_;
};

TEST_F(DriveIndexTest, FirstRefreshBuildsEveryFolderAndAnnouncesTopLevelAndNewFolders) {
  MakeFolder(P("a/b/c"));
  MakeFolder(P("d"));
  WriteTextFile(P("a/b/c/deep.txt"), "x");
  WriteTextFile(P("top.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);

  auto folders = rec_.Texts(IndexEvent::kRefresh);
  std::set<std::string> seen(folders.begin(), folders.end());
  for (const char* f : {"", "T:\\a\\", "T:\\a\\b\\", "T:\\a\\b\\c\\", "T:\\d\\"})
    EXPECT_TRUE(seen.count(f)) << f;
  // After the refresh the index alone knows every name.
  rec_.SetAnswer([](IndexEvent event, const std::string& text) {
    return StopIf(event == IndexEvent::kRefresh && text.empty());  // stop as the refresh begins
  });
  EXPECT_EQ(Sorted(Find(&index, "*.txt")),
            (std::vector<std::string>{"T:\\a\\b\\c\\deep.txt", "T:\\top.txt"}));
  EXPECT_EQ(index.current_phase(), FindPhase::kIdle);
}

TEST_F(DriveIndexTest, RefreshOfUnchangedDriveListsNothingEvenWithCaseTwins) {
  MakeFolder(P("src/lib"));
  WriteTextFile(P("src/Makefile"), "1");
  WriteTextFile(P("src/makefile"), "2");
  WriteTextFile(P("src/lib/x.c"), "3");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  const auto listed = index.folders_listed();
  EXPECT_GE(listed, 3u);

  // Whatever the stamps say, nothing new is reported; with the stamps as they
  // are, no folder is listed again.
  EXPECT_TRUE(Find(&index, "akefile").size() == 2);
  index.StopAndWait();
  // Both case twins are kept as distinct names.
  auto found = Sorted(Find(&index, "makefile"));
  EXPECT_EQ(found, (std::vector<std::string>{"T:\\src\\Makefile", "T:\\src\\makefile"}));
  EXPECT_EQ(index.folders_listed(), listed);
}

// The walk looks each folder's status up from folders it holds open on its
// way down, letting them go as it leaves them. Whatever the depth of the
// drive's root, a refresh of a deep tree lists exactly the folders that
// changed, in every branch, however deep, and after the walk came back up.
TEST_F(DriveIndexTest, RefreshOfADeepTreeListsExactlyTheFoldersThatChanged) {
  std::string base = "deep";
  for (int level = 1; level <= 4; ++level) {
    base += "/r" + std::to_string(level);
    SCOPED_TRACE(base);
    root_ = env_.MakeDrive('T', base);
    // Two branches twelve folders deep, and a side folder in the middle of
    // the first that the walk reaches after coming back from its bottom (its
    // path longer than those of the folders it left).
    std::string a = "a1", b = "b1";
    for (int i = 2; i <= 12; ++i) {
      a += "/a" + std::to_string(i);
      b += "/b" + std::to_string(i);
    }
    const std::string side = "a1/a2/a3/a4/side_folder_with_a_long_name";
    MakeFolder(P(a));
    MakeFolder(P(b));
    MakeFolder(P(side));
    WriteTextFile(P(a + "/old.txt"), "x");
    WriteTextFile(P("a1/a2/a3/a4/a5/a6/gone.txt"), "x");
    std::vector<std::string> expected = {a + "/old.txt"};
    {
      DriveIndex index(NoWatcher());
      OpenAndSettle(&index, true);
    }
    // Five folders change: two deep in a, the side folder, b's bottom and a
    // folder near b's top.
    for (const std::string& f : {a + "/new.txt", side + "/new.txt", b + "/new.txt",
                                 std::string("b1/b2/new.txt")}) {
      WriteTextFile(P(f), "x");
      expected.push_back(f);
    }
    ASSERT_EQ(std::remove(P("a1/a2/a3/a4/a5/a6/gone.txt").c_str()), 0);
    {
      // Every open walks the drive by the stamps.
      DriveIndex index(NoWatcher());
      OpenAndSettle(&index);
      EXPECT_EQ(index.folders_listed(), 5u);
      // A refresh of a look-in folder lists its scope and the folders above
      // it (root, a1), then walks the whole drive by the stamps again: only
      // b's changed bottom is listed there.
      WriteTextFile(P(b + "/later.txt"), "x");
      expected.push_back(b + "/later.txt");
      const auto listed = index.folders_listed();
      Find(&index, "*.txt", {"\\a1\\a2"}, true, true);
      EXPECT_EQ(index.folders_listed() - listed, 11u + 1u + 2u + 1u);
      std::vector<std::string> want;
      for (std::string f : expected) {
        std::replace(f.begin(), f.end(), '/', '\\');
        want.push_back("T:\\" + f);
      }
      rec_.SetAnswer([](IndexEvent event, const std::string& text) {
        return StopIf(event == IndexEvent::kRefresh && text.empty());  // the index alone
      });
      EXPECT_EQ(Sorted(Find(&index, "*.txt")), Sorted(want));
      rec_.SetAnswer(nullptr);
    }
  }
}

TEST_F(DriveIndexTest, NewFileDuringFindIsReportedOnceByRefreshThenByIndex) {
  MakeFolder(P("docs"));
  WriteTextFile(P("docs/old.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);

  WriteTextFile(P("docs/new.txt"), "x");
  // The refresh of this find lists docs again and reports the new name once.
  auto first = Find(&index, "*.txt", {}, true, true);
  EXPECT_EQ(Sorted(first), (std::vector<std::string>{"T:\\docs\\new.txt", "T:\\docs\\old.txt"}));
  // The next find has it from the index and its refresh adds nothing.
  auto second = Find(&index, "*.txt", {}, true, true);
  EXPECT_EQ(Sorted(second), Sorted(first));
}

TEST_F(DriveIndexTest, VanishedFoldersLoseTheirSubtreesAndFolderTurnedFileIsAFile) {
  MakeFolder(P("gone/inner/more"));
  WriteTextFile(P("gone/inner/more/f.txt"), "x");
  MakeFolder(P("swap/child"));
  WriteTextFile(P("swap/child/g.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  EXPECT_EQ(Find(&index, "*.txt").size(), 2u);

  test::RemoveTree(P("gone"));
  test::RemoveTree(P("swap"));
  WriteTextFile(P("swap"), "now a file");
  // This find still reports what the index knew; its refresh brings the
  // index up to date, so the next find knows only the file.
  Find(&index, "*", {}, true, true);
  EXPECT_EQ(Find(&index, "*"), (std::vector<std::string>{"T:\\swap"}));
  index.Close();

  // The records of the vanished folders are gone from the file: only the
  // root folder record remains besides the drive record.
  IndexStore store;
  ASSERT_TRUE(store.Open(index_path_));
  std::vector<std::uint8_t> buffer;
  int folders = 0;
  store.BeginScan();
  while (store.NextRecord(&buffer)) folders += buffer[6] == index_format::kKindFolderRecord;
  EXPECT_EQ(folders, 1);
  EXPECT_FALSE(store.is_damaged());
}

// Every folder entry with a child id names a readable folder record whose
// parent is that folder and whose name is the entry's.
void ExpectChildLinksSound(const std::string& index_path) {
  IndexStore store;
  ASSERT_TRUE(store.Open(index_path));
  std::vector<std::uint8_t> record;
  std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, std::string>>> links;
  store.BeginScan();
  while (store.NextRecord(&record)) {
    FolderRecordView folder;
    if (!folder.Parse(record)) continue;
    EntryIterator it(folder);
    FolderEntry entry;
    while (it.Next(&entry))
      if (entry.is_folder && entry.child_id != 0)
        links.push_back({entry.child_id, {folder.id(), std::string(entry.name)}});
  }
  for (const auto& [child, from] : links) {
    std::vector<std::uint8_t> buffer;
    FolderRecordView view;
    ASSERT_TRUE(ReadFolderRecord(store, child, &buffer, &view))
        << "entry " << from.second << " of folder " << from.first << " names missing record "
        << child;
    EXPECT_EQ(view.parent_id(), from.first) << from.second;
    EXPECT_EQ(std::string(view.name()), from.second);
  }
  EXPECT_FALSE(store.is_damaged());
}

TEST_F(DriveIndexTest, FolderTurnedFileStaysSoundWhenTheMergeIsStoppedAndTheIndexClosed) {
  MakeFolder(P("p/x/inner"));
  WriteTextFile(P("p/x/inner/deep.txt"), "x");
  for (int i = 0; i < 20; ++i) WriteTextFile(P("p/y" + std::to_string(100 + i)), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);

  // x becomes a file; its subtree records go as the merge of p meets it.
  test::RemoveTree(P("p/x"));
  WriteTextFile(P("p/x"), "now a file");
  // Stop in the merge of p right after x (the listing's first name): the
  // merge asks whether to go on before its first and its eleventh name.
  const auto listed = index.folders_listed();
  std::atomic<int> polls_in_merge{0};
  rec_.SetAnswer([&](IndexEvent event, const std::string&) {
    if (event != IndexEvent::kPoll || index.current_phase() != FindPhase::kRefresh ||
        index.folders_listed() <= listed)
      return IndexAnswer::kGoOn;
    return StopIf(++polls_in_merge == 2);
  });
  Find(&index, "*", {}, true, true);
  rec_.SetAnswer(nullptr);
  ASSERT_EQ(polls_in_merge.load(), 2);
  // The paused walk is abandoned by the close: what it removed must already
  // be written, so that no entry names a deleted record.
  index.Close();
  ExpectChildLinksSound(index_path_);

  // Reopened, the walk finishes the job and the file stays sound.
  OpenAndSettle(&index);
  EXPECT_EQ(Find(&index, "deep"), std::vector<std::string>{});
  EXPECT_EQ(Find(&index, "x"), (std::vector<std::string>{"T:\\p\\x"}));
  index.Close();
  ExpectChildLinksSound(index_path_);
}

TEST_F(DriveIndexTest, OddNamesAreIndexedByteForByte) {
  const std::string long_folder(255, 'F');
  const std::vector<std::string> names = {"with space.txt", "quote\"d'.txt", "new\nline.txt",
                                          "latin\xE9\xFF.txt", "semi;colon.txt"};
  MakeFolder(P(long_folder));
  for (const auto& n : names) WriteTextFile(P(long_folder + "/" + n), "x");
  WriteTextFile(P(std::string(255, 'g')), "x");  // cannot be a file entry: left out
  WriteTextFile(P("back\\slash.txt"), "x");      // cannot be a drive path: left out
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  std::vector<std::string> expected;
  for (const auto& n : names) expected.push_back("T:\\" + long_folder + "\\" + n);
  EXPECT_EQ(Sorted(Find(&index, "*.txt")), Sorted(expected));
  EXPECT_TRUE(Find(&index, "ggg").empty());
  index.Close();
  ExpectChildLinksSound(index_path_);
}

TEST_F(DriveIndexTest, ProgressArrivesWhileTheWalkIsBusyWithoutPostingMore) {
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  MakeFolder(P("a"));
  // The refresh announces the new folder \a\ twice in a row (as new, then as
  // a top-level folder) and then asks whether to go on. That question takes
  // long here, as a big listing would, and nothing else is posted meanwhile:
  // both announcements must still reach the callback.
  const auto listed = index.folders_listed();
  int polls_after_root = 0;  // refresh thread only
  bool delivered_while_busy = false;
  rec_.SetAnswer([&](IndexEvent event, const std::string&) {
    if (event != IndexEvent::kPoll || index.current_phase() != FindPhase::kRefresh ||
        index.folders_listed() != listed + 1 || ++polls_after_root != 4)
      return IndexAnswer::kGoOn;
    delivered_while_busy =
        rec_.WaitForMessage(IndexEvent::kRefresh, "T:\\a\\", 2, std::chrono::seconds(10));
    return IndexAnswer::kGoOn;
  });
  Find(&index, "*", {}, true, true);
  rec_.SetAnswer(nullptr);
  EXPECT_GE(polls_after_root, 4);
  EXPECT_TRUE(delivered_while_busy);
}

TEST_F(DriveIndexTest, OpenWaitsForTheContentSearchOfTheLastFindAndHearsNothingOfIt) {
  WriteTextFile(P("a.txt"), "needle");
  MakeFolder(P("sub"));
  WriteTextFile(P("sub/b.txt"), "needle");
  env_.MakeDrive('U', "other");
  Recorder other_rec;  // outlives the index that calls it
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);

  // The find thread polls first (before the first record); a poll from any
  // other thread comes from a content thread that has taken a.txt.
  std::mutex lock;
  std::condition_variable cv;
  std::thread::id find_thread;
  bool content_in_poll = false, release = false;
  int find_polls = 0;
  rec_.SetAnswer([&](IndexEvent event, const std::string&) {
    if (event != IndexEvent::kPoll) return IndexAnswer::kGoOn;
    std::unique_lock<std::mutex> l(lock);
    if (find_thread == std::thread::id()) find_thread = std::this_thread::get_id();
    if (std::this_thread::get_id() == find_thread) {
      // Third record: a.txt is queued; stop once the content thread is busy.
      if (++find_polls < 3) return IndexAnswer::kGoOn;
      cv.wait(l, [&] { return content_in_poll; });
      return IndexAnswer::kStop;
    }
    if (content_in_poll) return IndexAnswer::kGoOn;
    content_in_poll = true;
    cv.notify_all();
    cv.wait(l, [&] { return release; });
    return IndexAnswer::kGoOn;
  });
  std::string message;
  rec_.Clear();
  ASSERT_TRUE(index.StartFind(RequestOf("*.txt", {}, "needle"), &message));
  rec_.WaitForEnds();
  index.Close();

  // The content thread still holds a.txt of T: while U: is opened.
  std::atomic<bool> opened{false};
  std::thread opener([&] {
    EXPECT_TRUE(index.Open(platform::IndexFilePath('U'), "U:", &other_rec,
                           false));
    opened = true;
  });
  // A negative check: Open must not return while the search goes on.
  {
    std::unique_lock<std::mutex> l(lock);
    cv.wait_for(l, std::chrono::milliseconds(300), [&] { return opened.load(); });
  }
  EXPECT_FALSE(opened.load());
  {
    std::lock_guard<std::mutex> l(lock);
    release = true;
  }
  cv.notify_all();
  opener.join();
  other_rec.WaitForEnds();
  for (const IndexMessage& m : other_rec.messages())
    EXPECT_EQ(TextOf(m).find("a.txt"), std::string::npos) << TextOf(m);
  rec_.SetAnswer(nullptr);
}

TEST_F(DriveIndexTest, HiddenFilesAreIndexed) {
  WriteTextFile(P(".bashrc"), "x");
  MakeFolder(P(".config/app"));
  WriteTextFile(P(".config/app/settings.ini"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  EXPECT_EQ(Sorted(Find(&index, "*")),
            (std::vector<std::string>{"T:\\.bashrc", "T:\\.config", "T:\\.config\\app",
                                      "T:\\.config\\app\\settings.ini"}));
}

TEST_F(DriveIndexTest, LookInScopeAndSubfolders) {
  // windows is a folder of its own beside Windows: a look-in names one.
  for (const char* f : {"Windows/System", "windows", "Windows2", "Other"}) MakeFolder(P(f));
  WriteTextFile(P("Windows/a.txt"), "x");
  WriteTextFile(P("Windows/System/b.txt"), "x");
  WriteTextFile(P("windows/f.txt"), "x");
  WriteTextFile(P("Windows2/c.txt"), "x");
  WriteTextFile(P("Other/d.txt"), "x");
  WriteTextFile(P("e.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);

  EXPECT_EQ(Sorted(Find(&index, "*.txt", {"\\Windows"}, false)),
            (std::vector<std::string>{"T:\\Windows\\a.txt"}));
  EXPECT_EQ(Sorted(Find(&index, "*.txt", {"\\Windows"}, true)),
            (std::vector<std::string>{"T:\\Windows\\System\\b.txt", "T:\\Windows\\a.txt"}));
  EXPECT_EQ(Sorted(Find(&index, "*.txt", {"\\windows"}, true)),
            (std::vector<std::string>{"T:\\windows\\f.txt"}));
  // The root alone, without subfolders.
  EXPECT_EQ(Sorted(Find(&index, "*.txt", {}, false)), (std::vector<std::string>{"T:\\e.txt"}));
  // Names new to the refresh are in scope by the same rule.
  WriteTextFile(P("Windows/new.txt"), "x");
  WriteTextFile(P("windows/new.txt"), "x");
  EXPECT_EQ(Find(&index, "new.txt", {"\\Windows"}, true, true),
            (std::vector<std::string>{"T:\\Windows\\new.txt"}));
}

TEST_F(DriveIndexTest, LookInOnlyWalkListsAncestorsAndScopeFirst) {
  MakeFolder(P("A/B/deep"));
  MakeFolder(P("C"));
  WriteTextFile(P("A/B/deep/x.txt"), "x");
  DriveIndex index(NoWatcher());
  // Open without settling: stop the open's refresh at once, so that the
  // find's refresh does the walking.
  rec_.SetAnswer(
      [](IndexEvent event, const std::string&) { return StopIf(event == IndexEvent::kPoll); });
  ASSERT_TRUE(index.Open(index_path_, "T:", &rec_, false));
  index.StopAndWait();
  rec_.SetAnswer(nullptr);
  auto found = Find(&index, "x.txt", {"\\A\\B"}, true, true);
  EXPECT_EQ(found, (std::vector<std::string>{"T:\\A\\B\\deep\\x.txt"}));
  // The look-in-only walk reaches \A\B\ before \C\ is ever announced.
  auto folders = rec_.Texts(IndexEvent::kRefresh);
  auto at = [&](const std::string& f) {
    return std::find(folders.begin(), folders.end(), f) - folders.begin();
  };
  EXPECT_LT(at("T:\\A\\B\\deep\\"), at("T:\\C\\"));
}

TEST_F(DriveIndexTest, StopInIndexFindSkipsTheOtherPhases) {
  WriteTextFile(P("a.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  rec_.SetAnswer(
      [](IndexEvent event, const std::string&) { return StopIf(event == IndexEvent::kPoll); });
  auto found = Find(&index, "*");
  EXPECT_TRUE(found.empty());
  // Nothing of the phases after the index find; the index find's own start
  // may already be dropped as stopped when the notify thread comes to it
  // after the stop.
  auto events = rec_.Events();
  if (events.size() == 2) {
    EXPECT_EQ(events.front(), IndexEvent::kIndexFind);
  }
  EXPECT_EQ(events.back(), IndexEvent::kIdle);
  EXPECT_LE(events.size(), 2u);
}

// Each phase of a find reaches the callback as a message of its own, in the
// order the phases run; names and progress arrive inside their phases, and
// the end tells the phase the index left for idle.
TEST_F(DriveIndexTest, EveryPhaseOfAFindReachesTheClientAsItsOwnMessage) {
  MakeFolder(P("sub"));
  WriteTextFile(P("sub/hit.txt"), "needle");
  WriteTextFile(P("miss.txt"), "hay");
  for (int i = 0; i < 12; ++i) WriteTextFile(P("sub/f" + std::to_string(i)), "x");
  {
    DriveIndex builder(NoWatcher());  // the index-only find needs the names
    OpenAndSettle(&builder);
  }
  using Phase = FindPhase;
  const std::vector<Phase> all = {Phase::kIndexFind, Phase::kRefresh, Phase::kContent,
                                  Phase::kCompaction, Phase::kFinalDelivery};
  const std::vector<std::string> both = {"T:\\miss.txt", "T:\\sub\\hit.txt"};
  struct Case {
    const char* name;
    bool index_only;
    const char* containing;
    bool refresh;
    Phase stop_in;  // polls in this phase answer stop (kIdle: none)
    std::vector<Phase> phases;
    std::vector<std::string> found;  // checked unless the find is stopped
    std::vector<std::string> refreshed;
    Phase left;
  } cases[] = {
      {"names, drive listed again", false, "", true, Phase::kIdle, all, both, {"T:\\sub\\"},
       Phase::kFinalDelivery},
      {"contents", false, "needle", false, Phase::kIdle, all, {"T:\\sub\\hit.txt"}, {},
       Phase::kFinalDelivery},
      {"index only", true, "needle", true, Phase::kIdle,
       {Phase::kIndexFind, Phase::kContent, Phase::kFinalDelivery}, {"T:\\sub\\hit.txt"}, {},
       Phase::kFinalDelivery},
      {"stopped in the index find", false, "", true, Phase::kIndexFind, {Phase::kIndexFind}, {},
       {}, Phase::kIndexFind},
      {"stopped in the refresh", false, "", true, Phase::kRefresh,
       {Phase::kIndexFind, Phase::kRefresh}, {}, {}, Phase::kRefresh},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveIndex::Options options = NoWatcher();
    options.index_only = c.index_only;
    DriveIndex index(options);
    if (c.index_only)  // opens without a refresh: nothing to wait for
      ASSERT_TRUE(index.Open(index_path_, "T:", &rec_, false));
    else
      OpenAndSettle(&index);
    rec_.SetAnswer([&](IndexEvent event, const std::string&) {
      return StopIf(event == IndexEvent::kPoll && c.stop_in != Phase::kIdle &&
                    index.current_phase() == c.stop_in);
    });
    Find(&index, "*.txt", {}, true, c.refresh, c.containing);
    rec_.SetAnswer(nullptr);
    const std::vector<IndexMessage> messages = rec_.messages();
    ASSERT_FALSE(messages.empty());
    ASSERT_TRUE(std::holds_alternative<FindEnded>(messages.back()));
    EXPECT_EQ(std::get<FindEnded>(messages.back()).left, c.left);
    EXPECT_EQ(std::get<FindEnded>(messages.back()).ran_to_end(), c.left == Phase::kFinalDelivery);

    std::vector<Phase> phases;
    std::vector<std::string> found, refreshed, searched;
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
      const IndexMessage& m = messages[i];
      const Phase in = phases.empty() ? Phase::kIdle : phases.back();
      if (const auto* started = std::get_if<PhaseStarted>(&m)) {
        phases.push_back(started->phase);
      } else if (const auto* name = std::get_if<FoundName>(&m)) {
        // Names come from the index find, the refresh or the content search.
        EXPECT_TRUE(in == Phase::kIndexFind || in == Phase::kRefresh || in == Phase::kContent)
            << name->path;
        found.push_back(name->path);
      } else if (const auto* folder = std::get_if<RefreshProgress>(&m)) {
        EXPECT_EQ(in, Phase::kRefresh) << folder->folder;
        refreshed.push_back(folder->folder);
      } else if (const auto* file = std::get_if<ContentProgress>(&m)) {
        // A content thread may see the content phase begun an instant before
        // its start is queued.
        EXPECT_TRUE(in == Phase::kContent || in == Phase::kRefresh ||
                    (c.index_only && in == Phase::kIndexFind))
            << file->file;
        searched.push_back(file->file);
      } else {
        ADD_FAILURE() << "unexpected message " << static_cast<int>(EventOf(m));
      }
    }
    if (c.stop_in == Phase::kIdle) {
      EXPECT_EQ(phases, c.phases);
      EXPECT_EQ(Sorted(found), c.found);
      EXPECT_EQ(refreshed, c.refreshed);
      // Only a find with a containing text searches files, and only names
      // that matched (files searched before the content phase are not told).
      for (const std::string& f : searched)
        EXPECT_TRUE(*c.containing && std::count(both.begin(), both.end(), f)) << f;
    } else {
      // Messages still queued at the stop are dropped: what arrived of the
      // phases is where the find began.
      ASSERT_LE(phases.size(), c.phases.size());
      EXPECT_TRUE(std::equal(phases.begin(), phases.end(), c.phases.begin()));
    }
    EXPECT_EQ(index.current_phase(), Phase::kIdle);
  }
}

TEST_F(DriveIndexTest, StoppedRefreshResumesFromTheSameFolderOrRestartsAfterAChange) {
  for (const char* f : {"a", "b", "c", "d"}) {
    MakeFolder(P(f));
    for (int i = 0; i < 30; ++i) WriteTextFile(P(std::string(f) + "/f" + std::to_string(i)), "x");
  }
  DriveIndex index(NoWatcher());
  // Folders are listed in the order root, a, b, c, d: stop at the first poll
  // after the listing of c, inside its merge.
  auto stop_after_listings = [&](std::uint64_t n) {
    return [&index, n](IndexEvent event, const std::string&) {
      return StopIf(event == IndexEvent::kPoll && index.current_phase() == FindPhase::kRefresh &&
                    index.folders_listed() >= n);
    };
  };
  rec_.SetAnswer(stop_after_listings(4));
  ASSERT_TRUE(index.Open(index_path_, "T:", &rec_, false));
  rec_.WaitForEnds();
  index.StopAndWait();
  EXPECT_EQ(index.folders_listed(), 4u);

  // No change meanwhile: the next find's refresh goes on inside \c\.
  rec_.SetAnswer(nullptr);
  // a and b from the index, c and d from the refresh that goes on.
  EXPECT_EQ(Find(&index, "f29").size(), 4u);
  auto folders = rec_.Texts(IndexEvent::kRefresh);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "T:\\a\\"), 0);
  // d is new: announced as a new folder and as a top-level one.
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "T:\\d\\"), 2);
  EXPECT_EQ(index.folders_listed(), 5u);
  EXPECT_EQ(Find(&index, "f29").size(), 4u);

  // A change while paused: the walk starts over from the root.
  WriteTextFile(P("c/new"), "x");
  const auto listed = index.folders_listed();
  rec_.SetAnswer(stop_after_listings(listed + 1));
  Find(&index, "f29", {}, true, true);
  rec_.SetAnswer(nullptr);
  Find(&index, "f29", {}, true, true);
  folders = rec_.Texts(IndexEvent::kRefresh);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "T:\\a\\"), 1);
}

TEST_F(DriveIndexTest, IndexOfAnotherVolumeOrDamagedIsRebuilt) {
  MakeFolder(P("x"));
  WriteTextFile(P("x/one.txt"), "x");
  {
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index);
    index.Close();
  }
  // Another volume: change the stored serial number.
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(index_path_));
    DriveRecord record;
    ASSERT_TRUE(ReadDriveRecord(store, &record));
    record.description.set_serial(record.description.serial() ^ 0x5A5A5A5A);
    ASSERT_TRUE(store.WriteRecord(record.Encode()));
    store.Close();
  }
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  // A rebuilt index announces every folder as new again.
  auto folders = rec_.Texts(IndexEvent::kRefresh);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "T:\\x\\"), 2);
  EXPECT_EQ(Find(&index, "one").size(), 1u);
  index.Close();

  // Random bytes in place of the index: rebuilt without complaint.
  WriteTextFile(index_path_, std::string(5000, '\x7f'));
  OpenAndSettle(&index);
  EXPECT_EQ(Find(&index, "one").size(), 1u);
}

// A wide index is rebuilt from its damage as a narrow one is (a small drive
// then gets a narrow index again).
TEST_F(DriveIndexTest, DamagedWideIndexIsRebuilt) {
  MakeFolder(P("x"));
  WriteTextFile(P("x/one.txt"), "x");
  struct Damage {
    const char* what;
    std::function<void(std::uint32_t drive_record_at)> apply;
  };
  const Damage damages[] = {
      {"damaged flag", [&](std::uint32_t) { test::PatchRawU16(index_path_, 146, 1); }},
      {"block id beyond the table, not closed cleanly",
       [&](std::uint32_t drive_record_at) {
         auto raw = test::ReadRaw(index_path_);
         raw[drive_record_at + 7] = 0x7F;
         index_format::PutU16(raw.data() + 144, 1);
         test::WriteRaw(index_path_, raw);
       }},
      {"cut short", [&](std::uint32_t) { ASSERT_EQ(::truncate(index_path_.c_str(), 4400), 0); }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    {
      DriveIndex index(NoWatcher());
      OpenAndSettle(&index, true);
      index.Close();
    }
    IndexStore store;
    ASSERT_TRUE(store.Open(index_path_));
    ASSERT_TRUE(WidenIndex(store));
    ASSERT_TRUE(store.Close());
    {
      // Sound, the wide index is used as it is.
      DriveIndex index(NoWatcher());
      OpenAndSettle(&index);
      EXPECT_EQ(Find(&index, "one"), std::vector<std::string>{"T:\\x\\one.txt"});
      EXPECT_EQ(index.folders_listed(), 0u);
      index.Close();
    }
    ASSERT_TRUE(store.Open(index_path_));
    EXPECT_TRUE(store.wide());
    const std::uint32_t drive_record_at = store.table_entry(index_format::kDriveRecordId);
    store.Close();
    d.apply(drive_record_at);
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index);
    EXPECT_EQ(Find(&index, "one"), std::vector<std::string>{"T:\\x\\one.txt"});
    EXPECT_GT(index.folders_listed(), 0u);  // listed anew
    index.Close();
    ASSERT_TRUE(store.Open(index_path_));
    EXPECT_FALSE(store.wide());
    EXPECT_FALSE(store.is_damaged());
    store.Close();
  }
}

// Sets the access and modification times of path.
void SetTimes(const std::string& path, const struct stat& times_of) {
  const struct timespec times[2] = {times_of.st_atim, times_of.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

TEST_F(DriveIndexTest, IndexOfAnotherRootFolderIsRebuilt) {
  // Two trees of the same file system whose folders carry the same times
  // (as a copy made with cp -a does): their stamps cannot tell them apart.
  const std::string other = env_.Path("other");
  MakeFolder(P("sub"));
  MakeFolder(other + "/sub");
  WriteTextFile(P("sub/mine.txt"), "x");
  WriteTextFile(other + "/sub/theirs.txt", "x");
  SetTimes(other + "/sub", StatOf(P("sub")));
  SetTimes(other, StatOf(root_));

  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  EXPECT_EQ(Find(&index, "*.txt"), std::vector<std::string>{"T:\\sub\\mine.txt"});
  index.Close();

  test::MapDrive('T', other);
  OpenAndSettle(&index);
  EXPECT_EQ(Find(&index, "*.txt"), std::vector<std::string>{"T:\\sub\\theirs.txt"});
  index.Close();

  // An index that does not record its root (written before roots were
  // recorded) is rebuilt once, then kept.
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(index_path_));
    DriveRecord record;
    ASSERT_TRUE(ReadDriveRecord(store, &record));
    EXPECT_NE(record.root_id, 0u);
    record.root_id = 0;
    ASSERT_TRUE(store.WriteRecord(record.Encode()));
    store.Close();
  }
  const auto listed = index.folders_listed();
  OpenAndSettle(&index);
  EXPECT_EQ(index.folders_listed(), listed + 2);  // the root and sub, listed anew
  index.Close();
  OpenAndSettle(&index);
  EXPECT_EQ(index.folders_listed(), listed + 2);  // nothing changed: nothing listed
  EXPECT_EQ(Find(&index, "*.txt"), std::vector<std::string>{"T:\\sub\\theirs.txt"});
}

TEST_F(DriveIndexTest, RefreshListsTheScopeWhateverTheStamps) {
  struct Case {
    std::vector<std::string> look_in;
    bool subfolders;
    std::vector<std::string> found;  // sorted
    std::size_t known_after;         // new files the index then holds
  };
  const Case cases[] = {
      {{}, true, {"T:\\a\\b\\new.txt", "T:\\a\\new.txt", "T:\\c\\new.txt"}, 3},
      {{"\\a"}, true, {"T:\\a\\b\\new.txt", "T:\\a\\new.txt"}, 2},
      {{"\\a"}, false, {"T:\\a\\new.txt"}, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    root_ = env_.MakeDrive('T', "drive" + std::to_string(n++));
    for (const char* folder : {"a/b", "c"}) MakeFolder(P(folder));
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index);
    // New files whose folders keep their old times, so their stamps too.
    for (const char* folder : {"a", "a/b", "c"}) {
      const struct stat times = StatOf(P(folder));
      WriteTextFile(P(folder) + "/new.txt", "x");
      SetTimes(P(folder), times);
    }
    EXPECT_TRUE(Find(&index, "new.txt", c.look_in, c.subfolders, false).empty());
    EXPECT_EQ(Sorted(Find(&index, "new.txt", c.look_in, c.subfolders, true)), c.found);
    // Out of scope the stamps still rule: the index holds what was relisted.
    EXPECT_EQ(Find(&index, "new.txt").size(), c.known_after);
    index.Close();
  }
}

TEST_F(DriveIndexTest, StartFindRefusesBadExpressionAndWhenNotIdle) {
  WriteTextFile(P("a.txt"), "x");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  std::string message;
  EXPECT_FALSE(index.StartFind(RequestOf("*", {}, "(unbalanced"), &message));
  EXPECT_FALSE(message.empty());
}

TEST_F(DriveIndexTest, ContentFindReportsOnlyMatchingFiles) {
  WriteTextFile(P("yes.txt"), "the quick brown fox");
  WriteTextFile(P("no.txt"), "the lazy dog");
  MakeFolder(P("sub"));
  WriteTextFile(P("sub/also.txt"), "a Fox in the sub folder");
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  auto found = Find(&index, "*.txt", {}, true, false, "fox");
  EXPECT_EQ(Sorted(found), (std::vector<std::string>{"T:\\sub\\also.txt", "T:\\yes.txt"}));
  // Every result arrives before the end, and the content phase was announced.
  auto events = rec_.Events();
  EXPECT_EQ(events.back(), IndexEvent::kIdle);
  EXPECT_NE(std::find(events.begin(), events.end(), IndexEvent::kContent), events.end());
}

TEST_F(DriveIndexTest, WatcherChangeMakesTheNextFindListWhatChanged) {
  MakeFolder(P("w"));
  DriveIndex index;  // with the change watcher
  OpenAndSettle(&index);
  // The watcher adds its watches on its own thread; wait until it watches.
  for (int i = 0; i < 1000 && !index.watching(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(index.watching());
  WriteTextFile(P("w/unseen.txt"), "x");
  // The watcher thread notices the change on its own; wait for it (bounded).
  for (int i = 0; i < 1000 && !index.change_pending(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(index.change_pending());
  EXPECT_EQ(Find(&index, "unseen"), (std::vector<std::string>{"T:\\w\\unseen.txt"}));
  EXPECT_FALSE(index.change_pending());
}

TEST_F(DriveIndexTest, AScopeOnlyRefreshListsTheLookInFoldersAndLeavesTheRest) {
  MakeFolder(P("a/in"));
  MakeFolder(P("b/out"));
  WriteTextFile(P("a/in/here.txt"), "x");
  WriteTextFile(P("b/out/there.txt"), "x");
  DriveIndex::Options options = NoWatcher();
  options.scope_only_refresh = true;
  DriveIndex index(options);
  rec_.Clear();
  ASSERT_TRUE(index.Open(index_path_, "T:", &rec_, false));
  // The open lists nothing; the find lists the root, \a and what is below.
  EXPECT_EQ(Find(&index, "*.txt", {"\\a"}), (std::vector<std::string>{"T:\\a\\in\\here.txt"}));
  EXPECT_EQ(index.folders_listed(), 3u);
  // The rest of the drive is not listed, and the drive counts as not
  // refreshed: a find of the whole drive lists it.
  EXPECT_EQ(Sorted(Find(&index, "*.txt")),
            (std::vector<std::string>{"T:\\a\\in\\here.txt", "T:\\b\\out\\there.txt"}));
}

TEST_F(DriveIndexTest, WithoutChangeARecentIndexIsNotListedAgain) {
  MakeFolder(P("w"));
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  WriteTextFile(P("w/unseen.txt"), "x");
  EXPECT_TRUE(Find(&index, "unseen").empty());  // the 600-second rule
  EXPECT_EQ(Find(&index, "unseen", {}, true, true).size(), 1u);  // a refresh asked for
}

TEST_F(DriveIndexTest, FixedDriveIsNotRemovableAndKeepsItsVolume) {
  DriveIndex index(NoWatcher());
  EXPECT_FALSE(index.SameVolume());  // nothing open
  OpenAndSettle(&index);
  EXPECT_FALSE(index.IsRemovable());
  EXPECT_TRUE(index.SameVolume());
  // Another file system mounted at the drive's root is another volume.
  if (platform::PathExists("/dev/shm")) {
    test::MapDrive('T', "/dev/shm");
    EXPECT_FALSE(index.SameVolume());
  }
}

TEST_F(DriveIndexTest, ContentFindSkipsVanishedAndSpecialFilesAndStopDropsTheRest) {
  for (int i = 0; i < 40; ++i) WriteTextFile(P("f" + std::to_string(i) + ".txt"), "needle");
  WriteTextFile(P("gone.txt"), "needle");
  ASSERT_EQ(mkfifo(P("pipe.txt").c_str(), 0600), 0);  // never opened: it would block
  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  test::RemoveTree(P("gone.txt"));  // still in the index, no longer on the disk

  auto found = Find(&index, "*.txt", {}, true, false, "needle");
  EXPECT_EQ(found.size(), 40u);
  EXPECT_EQ(std::count(found.begin(), found.end(), "T:\\gone.txt"), 0);
  EXPECT_EQ(std::count(found.begin(), found.end(), "T:\\pipe.txt"), 0);

  // A stop at the first match while files are searched: the find ends with
  // nothing after its end, and whatever was still queued is dropped (how
  // much that is depends on the threads' speed).
  rec_.SetAnswer(
      [](IndexEvent event, const std::string&) { return StopIf(event == IndexEvent::kFound); });
  found = Find(&index, "*.txt", {}, true, false, "needle");
  rec_.SetAnswer(nullptr);
  EXPECT_GE(found.size(), 1u);
  EXPECT_EQ(rec_.Events().back(), IndexEvent::kIdle);
  EXPECT_EQ(index.current_phase(), FindPhase::kIdle);
  // The next find is whole again.
  EXPECT_EQ(Find(&index, "*.txt", {}, true, false, "needle").size(), 40u);
}

TEST_F(DriveIndexTest, NamesMergedBeforeAPauseAreFoundByTheNextFind) {
  for (int i = 0; i < 40; ++i) WriteTextFile(P("f" + std::to_string(100 + i) + ".txt"), "x");
  DriveIndex index(NoWatcher());
  // Stop the open's refresh inside the merge of the root folder, after some
  // of its names went into the record being merged.
  int polls_after_listing = 0;
  rec_.SetAnswer([&](IndexEvent event, const std::string&) {
    if (event != IndexEvent::kPoll || index.current_phase() != FindPhase::kRefresh ||
        index.folders_listed() < 1)
      return IndexAnswer::kGoOn;
    return StopIf(++polls_after_listing >= 3);
  });
  ASSERT_TRUE(index.Open(index_path_, "T:", &rec_, false));
  rec_.WaitForEnds();
  index.StopAndWait();
  rec_.SetAnswer(nullptr);
  // The find's index phase knows the names merged before the pause, and the
  // refresh that goes on reports the rest: every name exactly once.
  auto found = Find(&index, "*.txt");
  EXPECT_EQ(found.size(), 40u);
  EXPECT_EQ(std::set<std::string>(found.begin(), found.end()).size(), found.size());
}

TEST_F(DriveIndexTest, ExpireOldIndexesKeepsRecentFiles) {
  std::string data = platform::DataFolder();
  MakeFolder(data);
  WriteTextFile(data + "/DriveX.idx", "old");
  WriteTextFile(data + "/DriveY.idx", "recent");
  WriteTextFile(data + "/notes.txt", "not an index");
  const std::time_t now = std::time(nullptr);
  struct timespec times[2] = {{now - 32 * 86400, 0}, {now - 32 * 86400, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (data + "/DriveX.idx").c_str(), times, 0), 0);
  times[0].tv_sec = times[1].tv_sec = now - 30 * 86400;
  ASSERT_EQ(utimensat(AT_FDCWD, (data + "/DriveY.idx").c_str(), times, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, (data + "/notes.txt").c_str(), times, 0), 0);
  EXPECT_EQ(DriveIndex::ExpireOldIndexes(data), 1);
  EXPECT_FALSE(platform::PathExists(data + "/DriveX.idx"));
  EXPECT_TRUE(platform::PathExists(data + "/DriveY.idx"));
  EXPECT_TRUE(platform::PathExists(data + "/notes.txt"));
}

}  // namespace
}  // namespace quindelo
