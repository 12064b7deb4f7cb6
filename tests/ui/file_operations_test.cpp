// Copy, Move, Rename, Delete and Delete Permanently from the main window on
// temporary drives: each command as the user gives it (the selection, the
// dialog's text, the answers to the questions), what is on the disk
// afterwards, the messages, and the list found again when anything changed.
// The dialogs and boxes are answered through the prompts, never shown.
#include "ui/file_operations.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "commands/command_texts.h"
#include "search/found_file.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/file_operation_dialogs.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/native_text.h"
#include "ui/qt_app.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

namespace fs = std::filesystem;
using commands::FailureAnswer;
using commands::FileOperation;

using test::Exists;
using test::SetImmutable;

// Names left in a folder under a copy's temporary name.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(".quindelo-", 0) == 0)
      found.push_back(entry.path().filename().string());
  return found;
}

// The main window over drive T: (the files worked on) and drive U: (a
// destination), with every prompt scripted.
struct Window {
  explicit Window(const std::vector<std::pair<std::string, std::string>>& files) {
    test::QtApp();
    t = env.MakeDrive('T', "t");
    u = env.MakeDrive('U', "u");
    for (const auto& [path, contents] : files) {
      const std::string native = Native(path);
      if (contents == "/")
        test::MakeFolder(native);
      else
        test::WriteTextFile(native, contents);
    }
    SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
    frame = std::make_unique<MainFrame>(test::QuickOptions());
    frame->set_warning_handler([this](const QString& text) { warnings.push_back(text); });
    form = frame->form();
    ops = frame->file_operations();
    FileOperationPrompts& p = ops->prompts();
    p.ask_text = [this](FileOperation) -> std::optional<QString> {
      ++dialogs;
      if (texts.empty()) return std::nullopt;
      std::optional<QString> text = texts.front();
      texts.pop_front();
      return text;
    };
    p.ask = [this](FileQuestion, const QString& text) {
      questions.push_back(text);
      if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return false;
      }
      const bool yes = answers.front();
      answers.pop_front();
      return yes;
    };
    // A question per file takes the next scripted answer: from each_answers,
    // else yes or no from answers.
    p.ask_each = [this](FileQuestion, const QString& text) {
      questions.push_back(text);
      if (!each_answers.empty()) {
        const EachAnswer answer = each_answers.front();
        each_answers.pop_front();
        return answer;
      }
      if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return EachAnswer::kNo;
      }
      const bool yes = answers.front();
      answers.pop_front();
      return yes ? EachAnswer::kYes : EachAnswer::kNo;
    };
    p.ask_skip_or_stop = [this](const QString& text) {
      failures.push_back(text);
      return failure_answer;
    };
    QObject::connect(form, &FindForm::statusChanged, [this](const QString& text) {
      if (text.startsWith("Found")) ++finds;
    });
    frame->Start("");
    EXPECT_TRUE(test::RunUntil([&] { return form->named_box()->isEnabled(); }));
    QTest::keyClicks(form->named_box()->lineEdit(), "*");
    EXPECT_TRUE(ListMatchesDisk());
  }
  ~Window() {
    frame->set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
    frame->close();
    test::RunUntil([&] { return form->closed(); });
  }

  // "T/x" and "U/x" are below the drives' folders; "@T" and "@U" in a text
  // stand for the drives' native folders.
  std::string Native(const std::string& path) const {
    return (path[0] == 'T' ? t : u) + path.substr(1);
  }
  QString Text(const std::string& text) const {
    std::string out = text;
    for (const auto& [mark, root] : {std::pair{"@T", t}, std::pair{"@U", u}})
      for (std::size_t at; (at = out.find(mark)) != std::string::npos;) out.replace(at, 2, root);
    return FromNative(out);
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    ResultsModel* model = form->results_view()->results();
    for (int i = 0; i < model->RowCount(); ++i) rows.push_back(UncutPath(*model->RowRecord(i)));
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // What a find of "*" over T: gives: every entry below it.
  std::vector<std::string> DiskRows() const {
    std::vector<std::string> rows;
    for (const auto& entry : fs::recursive_directory_iterator(t)) {
      std::string rest = entry.path().string().substr(t.size());
      std::replace(rest.begin(), rest.end(), '/', '\\');
      rows.push_back("T:" + rest);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // The list shows the disk as it is, after a find that ended. With
  // refreshed: a find ended after the last selection was made (the list
  // was found again after the command), and the list holds every entry on
  // the disk. (Rows of entries just removed may outlive that find when the
  // machine is loaded: the index's relisting, not these commands.)
  bool ListMatchesDisk(bool refreshed = false) const {
    return test::RunUntil([&] {
      if (form->driver()->running() || !form->status_text().startsWith("Found")) return false;
      if (!refreshed) return Rows() == DiskRows();
      const std::vector<std::string> rows = Rows(), disk = DiskRows();
      return finds > finds_at_command &&
             std::includes(rows.begin(), rows.end(), disk.begin(), disk.end());
    });
  }

  // Each file's contents, or (null contents) that nothing is there.
  void ExpectDisk(const std::vector<std::pair<const char*, const char*>>& files) const {
    for (const auto& [path, contents] : files) {
      if (contents == nullptr) {
        EXPECT_FALSE(Exists(Native(path))) << path;
      } else {
        EXPECT_EQ(test::ReadWholeFile(Native(path)), contents) << path;
      }
    }
  }

  // For failure messages: the list, the disk and the finds.
  std::string Describe() const {
    std::string text = "finds " + std::to_string(finds) + "/" + std::to_string(finds_at_command) +
                       ", status " + form->status_text().toStdString() + "\nlist:";
    for (const std::string& row : Rows()) text += " " + row;
    text += "\ndisk:";
    for (const std::string& row : DiskRows()) text += " " + row;
    return text;
  }

  void Select(const std::vector<std::string>& drive_paths) {
    finds_at_command = finds;
    ResultsView* view = form->results_view();
    view->selectionModel()->clearSelection();
    for (int i = 0; i < view->results()->RowCount(); ++i)
      if (std::find(drive_paths.begin(), drive_paths.end(),
                    UncutPath(*view->results()->RowRecord(i))) != drive_paths.end())
        view->selectionModel()->select(view->results()->index(i, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    frame->UpdateCommands();
  }

  test::ScopedTestEnv env;
  std::string t, u;
  std::unique_ptr<MainFrame> frame;
  FindForm* form = nullptr;
  FileOperations* ops = nullptr;
  std::deque<std::optional<QString>> texts;
  std::deque<bool> answers;
  std::deque<EachAnswer> each_answers;
  int dialogs = 0;
  int finds = 0;             // finds that ended
  int finds_at_command = 0;  // ... when the last selection was made
  std::vector<QString> questions, warnings, failures;
  FailureAnswer failure_answer = FailureAnswer::kSkip;
};

bool AnyContains(const std::vector<QString>& texts, const char* part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const QString& text) { return text.contains(QString::fromUtf8(part)); });
}

TEST(FileOperations, CommandsOnTheSelectionChangeTheDiskAndTheListFollows) {
  Window w({{"T/a.txt", "A"},
            {"T/b.txt", "B"},
            {"T/c.log", "C"},
            {"T/dir", "/"},
            {"T/dir/d.txt", "D"},
            {"T/gone.txt", "G"},
            {"U/file.txt", "F"}});
  constexpr const char* kAbsent = nullptr;
  const struct Case {
    const char* what;
    std::vector<std::string> select;     // drive paths of the rows selected
    int command;                         // triggered from its menu entry
    std::optional<const char*> text;     // the dialog's answer; nullopt: Cancel
    std::vector<bool> answers;           // to the questions, in order
    const char* question;                // part of the last question ("" none)
    const char* warning;                 // part of the one warning ("" none)
    std::vector<std::pair<const char*, const char*>> disk;  // contents after
    const char* remove_first = nullptr;  // vanishes behind the list's back
  } cases[] = {
      {"copy into a new folder", {"T:\\a.txt", "T:\\b.txt"}, kCmdCopyTo, "U:\\Backup", {}, "", "",
       {{"U/Backup/a.txt", "A"}, {"U/Backup/b.txt", "B"}, {"T/a.txt", "A"}}},
      {"copy with a wildcard name", {"T:\\a.txt"}, kCmdCopyTo, "U:\\Backup\\*.bak", {}, "", "",
       {{"U/Backup/a.bak", "A"}, {"U/Backup/a.txt", "A"}}},
      {"a replace answered no", {"T:\\b.txt"}, kCmdCopyTo, "U:\\Backup\\a.*", {false},
       "U:\\Backup\\a.txt\" already exists", "", {{"U/Backup/a.txt", "A"}, {"T/b.txt", "B"}}},
      {"a replace answered yes", {"T:\\b.txt"}, kCmdCopyTo, "U:\\Backup\\a.*", {true},
       "already exists", "", {{"U/Backup/a.txt", "B"}, {"T/b.txt", "B"}}},
      {"cancel in the dialog", {"T:\\c.log"}, kCmdMoveTo, std::nullopt, {}, "", "",
       {{"T/c.log", "C"}}},
      {"move with a wildcard name", {"T:\\c.log"}, kCmdMoveTo, "U:\\Moved\\*.txt", {}, "", "",
       {{"U/Moved/c.txt", "C"}, {"T/c.log", kAbsent}}},
      {"a destination typed as a native path", {"T:\\dir\\d.txt"}, kCmdCopyTo, "@U/Native/", {},
       "", "", {{"U/Native/d.txt", "D"}, {"T/dir/d.txt", "D"}}},
      {"rename with wildcards", {"T:\\b.txt"}, kCmdRename, "*.old", {}, "", "",
       {{"T/b.old", "B"}, {"T/b.txt", kAbsent}}},
      {"a delete of two answered no", {"T:\\a.txt", "T:\\b.old"}, kCmdDelete, std::nullopt,
       {false}, "move these 2 files to the trash", "", {{"T/a.txt", "A"}, {"T/b.old", "B"}}},
      {"delete to the trash", {"T:\\a.txt"}, kCmdDelete, std::nullopt, {true},
       "move \"T:\\a.txt\" to the trash", "", {{"T/a.txt", kAbsent}}},
      {"a destination inside the source folder", {"T:\\dir"}, kCmdCopyTo, "T:\\dir\\inner", {},
       "", "cannot be copied into itself", {{"T/dir/inner", kAbsent}, {"T/dir/d.txt", "D"}}},
      {"a permanent delete answered no", {"T:\\b.old"}, kCmdDeletePermanently, std::nullopt,
       {false}, "permanently delete \"T:\\b.old\"", "", {{"T/b.old", "B"}}},
      {"a permanent delete answered yes", {"T:\\b.old", "T:\\dir"}, kCmdDeletePermanently,
       std::nullopt, {true}, "permanently delete these 2 files", "",
       {{"T/b.old", kAbsent}, {"T/dir", kAbsent}, {"U/Native/d.txt", "D"}}},
      {"a destination that is a file", {"T:\\gone.txt"}, kCmdCopyTo, "U:\\file.txt", {}, "",
       "is a file, not a folder", {{"U/file.txt", "F"}, {"T/gone.txt", "G"}}},
      {"a file that vanished since the find", {"T:\\gone.txt"}, kCmdMoveTo, "U:\\Moved", {}, "",
       "no longer exists", {{"U/Moved/gone.txt", kAbsent}}, "T/gone.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    w.Select(c.select);
    ASSERT_TRUE(w.frame->action(c.command)->isEnabled());
    if (c.remove_first) {
      ASSERT_EQ(0, std::remove(w.Native(c.remove_first).c_str()));
    }
    w.texts.clear();
    w.texts.push_back(c.text ? std::optional<QString>(w.Text(*c.text)) : std::nullopt);
    w.answers.assign(c.answers.begin(), c.answers.end());
    w.questions.clear();
    w.warnings.clear();
    const int dialogs = w.dialogs;
    const std::vector<std::string> rows_before = w.Rows();
    w.frame->action(c.command)->trigger();
    const bool asks_text = c.command == kCmdCopyTo || c.command == kCmdMoveTo ||
                           c.command == kCmdRename;
    EXPECT_EQ(w.dialogs - dialogs, asks_text ? 1 : 0);
    EXPECT_TRUE(w.answers.empty()) << "questions not asked";
    if (*c.question) {
      ASSERT_FALSE(w.questions.empty());
      EXPECT_TRUE(w.questions.back().contains(QString::fromUtf8(c.question)))
          << w.questions.back().toStdString();
    }
    if (*c.warning) {
      ASSERT_EQ(w.warnings.size(), 1u);
      EXPECT_TRUE(AnyContains(w.warnings, c.warning)) << w.warnings[0].toStdString();
    } else {
      EXPECT_TRUE(w.warnings.empty()) << w.warnings[0].toStdString();
    }
    w.ExpectDisk(c.disk);
    EXPECT_TRUE(w.failures.empty());
    const bool changed = !*c.warning && (c.text || !asks_text) &&
                         (c.answers.empty() || c.answers.back());
    if (changed) {
      EXPECT_TRUE(w.ListMatchesDisk(true)) << w.Describe();
    } else {
      // Nothing changed, so the list is left as it was (a vanished file's
      // row too).
      EXPECT_EQ(w.Rows(), rows_before);
    }
  }
  // The deleted file is in the trash, with what restores it.
  const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash";
  EXPECT_EQ(test::ReadWholeFile(trash + "/files/a.txt"), "A");
  const std::string info = test::ReadWholeFile(trash + "/info/a.txt.trashinfo");
  EXPECT_NE(info.find("[Trash Info]"), std::string::npos) << info;
  EXPECT_NE(info.find("Path=" + w.t + "/a.txt\n"), std::string::npos) << info;
}

// GLib reads the user's data folder once per process, so only the first
// test of a process may use the desktop trash; the others record.
class RecordingTrash : public commands::Trash {
 public:
  explicit RecordingTrash(std::vector<std::string>* trashed) : trashed_(trashed) {}
  bool MoveToTrash(const std::string& path, std::string*) override {
    trashed_->push_back(path);
    return true;
  }

 private:
  std::vector<std::string>* trashed_;
};

class RefusingTrash : public commands::Trash {
 public:
  bool MoveToTrash(const std::string&, std::string* reason) override {
    *reason = "This file system has no trash.";
    return false;
  }
};

// The worker's side: a cancel half way through a copy, a file that fails
// (skipped or stopping the rest), a trash that refuses, the Del keys of the
// list, and a destination that cannot be written.
TEST(FileOperations, QuestionsCancelAndFailuresOfTheWorkerLoseNothing) {
  const std::string big(4 << 20, 'b');
  Window w({{"T/big.bin", big}, {"T/x1", "1"}, {"T/x2", "2"}, {"T/x3", "3"}, {"T/keep", "K"}});
  constexpr const char* kAbsent = nullptr;
  enum Hook { kNone, kCancelAfterOneBlock, kRemoveAtStart };
  const struct Case {
    const char* what;
    std::vector<std::string> select;
    FileOperation op;
    const char* text;
    Hook hook;
    const char* removed;  // kRemoveAtStart: the file that vanishes as the work starts
    FailureAnswer on_failure;
    bool refuse_trash;
    std::vector<bool> answers;
    const char* failure;  // part of the one failure message ("" none)
    std::size_t done;
    bool stopped;
    std::vector<std::pair<const char*, const char*>> disk;
  } cases[] = {
      {"a cancel half way through a copy", {"T:\\big.bin"}, FileOperation::kCopy, "U:\\",
       kCancelAfterOneBlock, "", FailureAnswer::kSkip, false, {}, "", 0, true,
       {{"U/big.bin", kAbsent}, {"T/big.bin", big.c_str()}}},
      {"a failed file skipped", {"T:\\x1", "T:\\x2", "T:\\x3"}, FileOperation::kCopy, "U:\\Out",
       kRemoveAtStart, "T/x2", FailureAnswer::kSkip, false, {}, "T:\\x2", 3, false,
       {{"U/Out/x1", "1"}, {"U/Out/x2", kAbsent}, {"U/Out/x3", "3"}}},
      {"a failed file stops the rest", {"T:\\x1", "T:\\x3"}, FileOperation::kMove, "U:\\Stop",
       kRemoveAtStart, "T/x1", FailureAnswer::kStop, false, {}, "T:\\x1", 1, true,
       {{"U/Stop/x1", kAbsent}, {"U/Stop/x3", kAbsent}, {"T/x3", "3"}}},
      {"a trash that refuses, answered no", {"T:\\keep"}, FileOperation::kDelete, "", kNone, "",
       FailureAnswer::kSkip, true, {true, false}, "", 0, false, {{"T/keep", "K"}}},
      {"a trash that refuses, answered yes", {"T:\\keep"}, FileOperation::kDelete, "", kNone, "",
       FailureAnswer::kSkip, true, {true, true}, "", 1, false, {{"T/keep", kAbsent}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    w.Select(c.select);
    w.texts = {w.Text(c.text)};
    w.answers.assign(c.answers.begin(), c.answers.end());
    w.failures.clear();
    w.warnings.clear();
    w.failure_answer = c.on_failure;
    if (c.refuse_trash) w.ops->set_trash(std::make_unique<RefusingTrash>());
    bool removed = false;
    std::uint64_t most_bytes = 0;
    w.ops->set_progress_hook([&](std::size_t, std::uint64_t bytes) {
      most_bytes = std::max(most_bytes, bytes);
      if (c.hook == kCancelAfterOneBlock && bytes >= (1u << 20)) w.ops->Cancel();
      if (c.hook == kRemoveAtStart && !removed)
        removed = std::remove(w.Native(c.removed).c_str()) == 0;
    });
    const commands::FileOperationResult result = w.ops->FileOperationOnSelection(c.op);
    w.ops->set_progress_hook(nullptr);
    EXPECT_EQ(result.done, c.done);
    EXPECT_EQ(result.stopped, c.stopped);
    if (result.changed()) {
      ASSERT_TRUE(w.ListMatchesDisk(true)) << w.Describe();
    }
    EXPECT_TRUE(w.answers.empty()) << "questions not asked";
    EXPECT_TRUE(w.warnings.empty());
    if (*c.failure) {
      ASSERT_EQ(w.failures.size(), 1u);
      EXPECT_TRUE(w.failures[0].contains(QString::fromUtf8(c.failure))) << w.failures[0].toStdString();
    } else {
      EXPECT_TRUE(w.failures.empty());
    }
    w.ExpectDisk(c.disk);
    if (c.hook == kCancelAfterOneBlock) {
      // Cancelled inside the file: no partial copy under any name.
      EXPECT_GE(most_bytes, 1u << 20);
      EXPECT_LT(most_bytes, big.size());
      EXPECT_TRUE(Leftovers(w.u).empty());
    }
  }

  // Del and Shift+Del in the list: the deletes, each asked first.
  std::vector<std::string> trashed;
  w.ops->set_trash(std::make_unique<RecordingTrash>(&trashed));
  w.Select({"T:\\x3"});
  w.answers = {false};
  w.questions.clear();
  emit w.form->results_view()->deleteRequested(true);
  ASSERT_EQ(w.questions.size(), 1u);
  EXPECT_TRUE(w.questions[0].contains("permanently delete \"T:\\x3\"")) << w.questions[0].toStdString();
  EXPECT_TRUE(Exists(w.Native("T/x3")));
  EXPECT_TRUE(trashed.empty());
  w.answers = {true};
  emit w.form->results_view()->deleteRequested(false);
  EXPECT_EQ(trashed, std::vector<std::string>{w.Native("T/x3")});
  ASSERT_EQ(w.questions.size(), 2u);
  EXPECT_TRUE(w.questions[1].contains("move \"T:\\x3\" to the trash")) << w.questions[1].toStdString();
  ASSERT_TRUE(w.ListMatchesDisk(true)) << w.Describe();

  // A destination folder that cannot be written (read-only for a user,
  // immutable for root, whom permissions do not stop): refused before
  // anything is done; nothing is lost and nothing is written.
  test::MakeFolder(w.Native("U/ro"));
  const bool root = geteuid() == 0;
  if (root) {
    if (!SetImmutable(w.Native("U/ro"), true)) GTEST_SKIP() << "no immutable folders here";
  } else {
    ASSERT_EQ(0, chmod(w.Native("U/ro").c_str(), 0555));
  }
  w.Select({"T:\\big.bin"});
  w.texts = {QStringLiteral("U:\\ro")};
  w.warnings.clear();
  w.failures.clear();
  w.failure_answer = FailureAnswer::kSkip;
  const commands::FileOperationResult result = w.ops->FileOperationOnSelection(FileOperation::kMove);
  if (root)
    SetImmutable(w.Native("U/ro"), false);
  else
    chmod(w.Native("U/ro").c_str(), 0755);
  ASSERT_EQ(w.warnings.size(), 1u);
  EXPECT_TRUE(w.warnings[0].contains("\"U:\\ro\" is read-only")) << w.warnings[0].toStdString();
  EXPECT_TRUE(w.failures.empty());
  EXPECT_EQ(result.done, 0u);
  EXPECT_EQ(test::ReadWholeFile(w.Native("T/big.bin")), big);
  EXPECT_TRUE(fs::is_empty(w.Native("U/ro")));
}

// A file whose drive path is longer than the 259 characters a shown path
// keeps: its path cut to 259 characters names its own folder. Delete
// Permanently and Move act on the file alone, and the other files of the
// folder stay.
TEST(FileOperations, APathLongerThanShownPathsIsActedOnWhole) {
  // "T:\" + 128 + "\" + 127 is the folder, 259 characters; the file's
  // drive path is 270.
  const std::string folder = "T/" + std::string(128, 'a') + "/" + std::string(127, 'b');
  Window w({{"T/" + std::string(128, 'a'), "/"}, {folder, "/"}, {folder + "/victim.txt", "V"},
            {folder + "/sibling1.txt", "S1"},
            {folder + "/sibling2.txt", "S2"}});
  const std::string drive_folder = "T:\\" + std::string(128, 'a') + "\\" + std::string(127, 'b');
  ASSERT_EQ(drive_folder.size(), 259u);
  const std::string victim = drive_folder + "\\victim.txt";
  ASSERT_EQ(victim.size(), 270u);
  const struct {
    FileOperation op;
    const char* text;
    std::vector<bool> answers;
    const char* moved_to;  // where the file is afterwards ("" gone)
    std::size_t done;      // steps (a new folder is one)
  } cases[] = {
      {FileOperation::kDeletePermanently, "", {true}, "", 1},
      {FileOperation::kMove, "U:\\Moved", {}, "U/Moved/victim.txt", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    test::WriteTextFile(w.Native(folder + "/victim.txt"), "V");
    w.form->Refresh(false);
    ASSERT_TRUE(w.ListMatchesDisk()) << w.Describe();
    w.Select({victim});
    ASSERT_EQ(w.form->results_view()->SelectedRowCount(), 1);
    w.texts = {QString::fromStdString(c.text)};
    w.answers.assign(c.answers.begin(), c.answers.end());
    w.questions.clear();
    w.warnings.clear();
    const commands::FileOperationResult result = w.ops->FileOperationOnSelection(c.op);
    EXPECT_EQ(result.done, c.done);
    EXPECT_TRUE(w.warnings.empty()) << w.warnings[0].toStdString();
    if (!c.answers.empty()) {
      ASSERT_EQ(w.questions.size(), 1u);
      EXPECT_TRUE(w.questions[0].contains(QString::fromStdString(victim)))
          << w.questions[0].toStdString();
    }
    EXPECT_FALSE(Exists(w.Native(folder + "/victim.txt")));
    if (*c.moved_to) {
      EXPECT_EQ(test::ReadWholeFile(w.Native(c.moved_to)), "V");
    }
    w.ExpectDisk({{(folder + "/sibling1.txt").c_str(), "S1"},
                  {(folder + "/sibling2.txt").c_str(), "S2"}});
    EXPECT_TRUE(w.ListMatchesDisk(true)) << w.Describe();
  }
}

// The questions asked once per file: Yes to All and No to All answer the
// rest of the operation, Cancel stops it; the trash's refusals alike.
TEST(FileOperations, AnswersToAllAskOnceAndCancelStops) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* name : {"r1", "r2", "r3", "r4"}) {
    files.push_back({std::string("T/") + name, std::string("new ") + name});
  }
  Window w(files);
  using A = EachAnswer;
  const struct {
    const char* what;
    FileOperation op;
    std::vector<A> answers;
    std::size_t questions;
    std::vector<bool> replaced;  // r1..r4 replaced (or deleted)
    bool stopped;
  } cases[] = {
      {"yes to all", FileOperation::kCopy, {A::kYesToAll}, 1, {true, true, true, true}, false},
      {"no to all", FileOperation::kCopy, {A::kNoToAll}, 1, {false, false, false, false}, false},
      {"yes, then no to all", FileOperation::kCopy, {A::kYes, A::kNoToAll}, 2,
       {true, false, false, false}, false},
      {"cancel", FileOperation::kCopy, {A::kCancel}, 1, {false, false, false, false}, true},
      {"no, then cancel", FileOperation::kCopy, {A::kNo, A::kCancel}, 2,
       {false, false, false, false}, true},
      {"trash refused, delete all", FileOperation::kDelete, {A::kYesToAll}, 1,
       {true, true, true, true}, false},
      {"trash refused, cancel", FileOperation::kDelete, {A::kYes, A::kCancel}, 2,
       {true, false, false, false}, true},
  };
  const std::vector<std::string> all = {"T:\\r1", "T:\\r2", "T:\\r3", "T:\\r4"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int i = 1; i <= 4; ++i) {
      test::WriteTextFile(w.Native("T/r" + std::to_string(i)), "new r" + std::to_string(i));
      test::MakeFolder(w.Native("U/Out"));
      test::WriteTextFile(w.Native("U/Out/r" + std::to_string(i)), "old");
    }
    w.form->Refresh(false);
    ASSERT_TRUE(w.ListMatchesDisk()) << w.Describe();
    w.Select(all);
    const bool deleting = c.op == FileOperation::kDelete;
    if (deleting) w.ops->set_trash(std::make_unique<RefusingTrash>());
    w.texts = {QStringLiteral("U:\\Out")};
    w.answers = deleting ? std::deque<bool>{true} : std::deque<bool>{};  // the delete question
    w.each_answers.assign(c.answers.begin(), c.answers.end());
    w.questions.clear();
    const commands::FileOperationResult result = w.ops->FileOperationOnSelection(c.op);
    EXPECT_EQ(w.questions.size(), c.questions + (deleting ? 1 : 0));
    EXPECT_TRUE(w.each_answers.empty());
    EXPECT_EQ(result.stopped, c.stopped);
    for (int i = 0; i < 4; ++i) {
      const std::string name = "r" + std::to_string(i + 1);
      if (deleting) {
        EXPECT_EQ(Exists(w.Native("T/" + name)), !c.replaced[i]) << name;
      } else {
        EXPECT_EQ(test::ReadWholeFile(w.Native("U/Out/" + name)),
                  c.replaced[i] ? "new " + name : std::string("old"))
            << name;
      }
    }
    EXPECT_TRUE(Leftovers(w.u + "/Out").empty());
  }
}

// Watches the window's boxes on a timer while a command runs: every 20 ms
// the box shown goes to `answer` (null when none is shown), which answers it.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::function<void(QMessageBox*)> answer) : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QMessageBox* shown = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) shown = box;
      answer_(shown);
    });
    timer_.start(20);
  }

 private:
  std::function<void(QMessageBox*)> answer_;
  QTimer timer_;
};

// Names that are markup when read as rich text, shown by their own
// characters in the delete question and in a warning box.
TEST(FileOperations, NamesInBoxesAreShownAsPlainText) {
  const std::vector<std::string> names = {"<b>x.txt", "<img src=y>.txt", "a<br>b.txt",
                                          "<font color=red>cannot &amp; be.txt"};
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : names) {
    files.push_back({"T/" + name, "N"});
    files.push_back({"U/" + name, "F"});
  }
  Window w(files);
  // The window's own boxes, not the test's prompts.
  FileOperations boxes(w.form, w.frame.get());
  w.ops->prompts().ask = boxes.prompts().ask;
  w.ops->prompts().warn = boxes.prompts().warn;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const QString shown = FromNative(name);
    std::vector<std::pair<QString, Qt::TextFormat>> seen;  // each box's text and format
    BoxWatcher watcher([&](QMessageBox* box) {
      if (!box) return;
      bool label_plain = false;
      for (QLabel* label : box->findChildren<QLabel*>())
        if (label->text() == box->text()) label_plain = label->textFormat() == Qt::PlainText;
      seen.push_back({box->text(), label_plain ? box->textFormat() : Qt::RichText});
      QAbstractButton* button = box->button(QMessageBox::No);
      if (!button) button = box->button(QMessageBox::Ok);
      ASSERT_NE(button, nullptr);
      button->click();
    });
    // The permanent delete question, answered No.
    w.Select({"T:\\" + name});
    w.ops->FileOperationOnSelection(FileOperation::kDeletePermanently);
    // A warning: the destination is a file.
    w.Select({"T:\\" + name});
    w.texts = {QStringLiteral("U:\\") + shown};
    w.ops->FileOperationOnSelection(FileOperation::kCopy);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, PermanentDeleteQuestion(commands::PlanFileOperation(
                                 FileOperation::kDeletePermanently, {"T:\\" + name}, "",
                                 commands::DiskView())));
    EXPECT_TRUE(seen[0].first.contains("\"T:\\" + shown + "\"")) << seen[0].first.toStdString();
    EXPECT_TRUE(seen[0].first.contains("cannot be restored"));
    EXPECT_TRUE(seen[1].first.contains("\"U:\\" + shown + "\"")) << seen[1].first.toStdString();
    for (const auto& [text, format] : seen) EXPECT_EQ(format, Qt::PlainText) << text.toStdString();
    EXPECT_EQ(test::ReadWholeFile(w.Native("T/" + name)), "N");
    EXPECT_EQ(test::ReadWholeFile(w.Native("U/" + name)), "F");
  }
}

// The replace question of a copy, asked with the window's own box while the
// progress dialog's delay runs out: the box stays above the progress
// dialog and answers the keys sent to it through its window.
TEST(FileOperations, AQuestionStaysAboveTheProgressDialogAndAnswersKeys) {
  Window w({{"T/a.txt", "new"}, {"U/a.txt", "old"}, {"T/b.txt", "new b"}, {"U/b.txt", "old b"}});
  FileOperations boxes(w.form, w.frame.get());
  w.ops->prompts().ask_each = boxes.prompts().ask_each;
  w.frame->show();
  w.frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.frame.get()));
  const struct {
    const char* what;
    int key;    // sent to each replace question's window
    int asked;  // questions asked
  } cases[] = {
      {"yes, one question per file", Qt::Key_Y, 2},
      {"yes to all", Qt::Key_A, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteTextFile(w.Native("U/a.txt"), "old");
    test::WriteTextFile(w.Native("U/b.txt"), "old b");
    w.Select({"T:\\a.txt", "T:\\b.txt"});
    w.texts = {QStringLiteral("U:\\")};
    bool sent = false, above = true;
    QElapsedTimer open_for;
    int asked = 0;
    BoxWatcher watcher([&](QMessageBox* box) {
      if (!box) return;
      // A box not seen before (the next one may take the place of the last).
      if (!box->property("seen").toBool()) {
        box->setProperty("seen", true);
        sent = false;
        open_for.start();
        ++asked;
        return;
      }
      // Past the progress dialog's half second of delay.
      if (open_for.elapsed() < 800) return;
      if (QApplication::activeModalWidget() != box) above = false;
      if (!sent) {
        sent = true;
        QTest::keyClick(box->windowHandle(), static_cast<Qt::Key>(c.key));
      } else if (open_for.elapsed() > 5000) {
        ADD_FAILURE() << "the question did not answer its key";
        box->done(QMessageBox::Cancel);
      }
    });
    const commands::FileOperationResult result =
        w.ops->FileOperationOnSelection(FileOperation::kCopy);
    EXPECT_TRUE(above);
    EXPECT_EQ(asked, c.asked);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.done, 2u);
    EXPECT_EQ(test::ReadWholeFile(w.Native("U/a.txt")), "new");
    EXPECT_EQ(test::ReadWholeFile(w.Native("U/b.txt")), "new b");
  }
}

// The progress bar follows the bytes copied of one big file.
TEST(FileOperations, TheProgressBarAdvancesWithTheBytesOfOneFile) {
  const std::string big(8 << 20, 'b');
  Window w({{"T/big.bin", big}});
  w.Select({"T:\\big.bin"});
  w.texts = {QStringLiteral("U:\\")};
  std::vector<std::pair<std::uint64_t, double>> seen;  // bytes, share of the bar
  w.ops->set_progress_hook([&](std::size_t, std::uint64_t bytes) {
    QProgressBar* bar = w.ops->progress_dialog()->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    seen.push_back({bytes, static_cast<double>(bar->value() - bar->minimum()) /
                               (bar->maximum() - bar->minimum())});
  });
  const commands::FileOperationResult result = w.ops->FileOperationOnSelection(FileOperation::kCopy);
  w.ops->set_progress_hook(nullptr);
  EXPECT_EQ(result.done, 1u);
  ASSERT_GE(seen.size(), 4u);
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i].second, seen[i - 1].second);
  for (const auto& [bytes, share] : seen) {
    const double copied = static_cast<double>(bytes) / static_cast<double>(big.size());
    EXPECT_NEAR(share, copied, 0.01) << bytes;
  }
  EXPECT_GT(seen.back().second, 0.99);
}

// The two dialogs: their texts, the empty line of at most 260 characters
// (a longer one, typed or picked, is refused, never cut), and Browse turning
// the picked folder into a drive path.
TEST(FileOperationDialogs, TextsAndBrowse) {
  test::ScopedTestEnv env;
  test::QtApp();
  const std::string u = env.MakeDrive('U', "u");
  test::MakeFolder(u + "/Pick ed");
  // A folder whose drive path ("U:\\" and 301 characters) does not fit.
  const std::string deep = u + "/" + std::string(150, 'd') + "/" + std::string(150, 'e');
  test::MakeFolder(u + "/" + std::string(150, 'd'));
  test::MakeFolder(deep);
  {
    FileOperationDialog rename(FileOperationDialog::Kind::kRename);
    EXPECT_EQ(rename.windowTitle(), "Rename ");
    EXPECT_EQ(rename.browse_button(), nullptr);
    EXPECT_TRUE(rename.findChild<QLabel*>()->text() == commands::kRenameDialogPrompt);
  }
  const struct {
    QString picked;         // what the picker answers
    const char* text;       // the line afterwards
    const char* warning;    // part of the warning ("" none)
  } cases[] = {
      {QString(), "start", ""},
      {FromNative(u + "/Pick ed"), "U:\\Pick ed", ""},
      {FromNative(u), "U:\\", ""},
      {FromNative(env.root() + "/elsewhere"), "start", "is not on any drive"},
      {FromNative(deep), "start", "is longer than 260 characters"},
  };
  for (const auto& c : cases) {
    FileOperationDialog dialog(FileOperationDialog::Kind::kDestination);
    EXPECT_EQ(dialog.windowTitle(), commands::kDestinationDialogCaption);
    EXPECT_TRUE(dialog.findChild<QLabel*>()->text() == commands::kDestinationDialogPrompt);
    EXPECT_EQ(dialog.text(), "");
    ASSERT_NE(dialog.browse_button(), nullptr);
    EXPECT_EQ(dialog.browse_button()->text(), "&Browse...");
    dialog.edit()->setText(QStringLiteral("start"));
    QString title;
    std::vector<QString> warnings;
    dialog.set_picker([&](QWidget*, const QString& t) {
      title = t;
      return c.picked;
    });
    dialog.set_warning_handler([&](const QString& text) { warnings.push_back(text); });
    QTest::mouseClick(dialog.browse_button(), Qt::LeftButton);
    EXPECT_EQ(title, commands::kBrowseTitle);
    EXPECT_EQ(dialog.text(), FromNative(c.text));
    if (*c.warning) {
      ASSERT_EQ(warnings.size(), 1u);
      EXPECT_TRUE(warnings[0].contains(c.warning)) << warnings[0].toStdString();
    } else {
      EXPECT_TRUE(warnings.empty());
    }
  }
  // OK with a text that does not fit: refused, the text left whole.
  for (const int length : {260, 261, 400}) {
    SCOPED_TRACE(length);
    FileOperationDialog dialog(FileOperationDialog::Kind::kRename);
    std::vector<QString> warnings;
    dialog.set_warning_handler([&](const QString& text) { warnings.push_back(text); });
    const QString text(length, QLatin1Char('n'));
    dialog.edit()->setText(text);
    dialog.accept();
    EXPECT_EQ(dialog.text(), text);
    EXPECT_EQ(dialog.result() == QDialog::Accepted, length <= 260);
    EXPECT_EQ(warnings.size(), length <= 260 ? 0u : 1u);
  }
}

}  // namespace
}  // namespace quindelo::ui
