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
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
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
    for (int i = 0; i < model->RowCount(); ++i) rows.push_back(FullPath(*model->RowRecord(i)));
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
                    FullPath(*view->results()->RowRecord(i))) != drive_paths.end())
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
      {"delete to the trash", {"T:\\a.txt"}, kCmdDelete, std::nullopt, {}, "", "",
       {{"T/a.txt", kAbsent}}},
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
       FailureAnswer::kSkip, true, {false}, "", 0, false, {{"T/keep", "K"}}},
      {"a trash that refuses, answered yes", {"T:\\keep"}, FileOperation::kDelete, "", kNone, "",
       FailureAnswer::kSkip, true, {true}, "", 1, false, {{"T/keep", kAbsent}}},
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

  // Del and Shift+Del in the list: the deletes, the permanent one asked first.
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
  emit w.form->results_view()->deleteRequested(false);
  EXPECT_EQ(trashed, std::vector<std::string>{w.Native("T/x3")});
  EXPECT_EQ(w.questions.size(), 1u);
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

// The two dialogs: their texts, the empty line of at most 260 characters,
// and Browse turning the picked folder into a drive path.
TEST(FileOperationDialogs, TextsAndBrowse) {
  test::ScopedTestEnv env;
  test::QtApp();
  const std::string u = env.MakeDrive('U', "u");
  test::MakeFolder(u + "/Pick ed");
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
  };
  for (const auto& c : cases) {
    FileOperationDialog dialog(FileOperationDialog::Kind::kDestination);
    EXPECT_EQ(dialog.windowTitle(), commands::kDestinationDialogCaption);
    EXPECT_TRUE(dialog.findChild<QLabel*>()->text() == commands::kDestinationDialogPrompt);
    EXPECT_EQ(dialog.text(), "");
    EXPECT_EQ(dialog.edit()->maxLength(), 260);
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
}

}  // namespace
}  // namespace quindelo::ui
