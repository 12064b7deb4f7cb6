// Copy, Move, Rename, Delete and Delete Permanently from the main window on
// temporary drives: each command as the user gives it (the selection, the
// dialog's text, the answers to the questions), what is on the disk
// afterwards, the messages, and the list found again when anything changed.
// The dialogs and boxes are answered through the prompts, never shown.
#include "ui/file_operations.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

SearchDriver::Options Quick() {
  SearchDriver::Options options;
  options.find_delay_ms = 0;
  options.index_options.watch_changes = false;
  return options;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool SetImmutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

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
    frame = std::make_unique<MainFrame>(Quick());
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
  // The list was found again (a find that ended shows the disk as it is).
  bool ListMatchesDisk() const {
    return test::RunUntil([&] {
      return !form->driver()->running() && form->status_text().startsWith("Found") &&
             Rows() == DiskRows();
    });
  }

  void Select(const std::vector<std::string>& drive_paths) {
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
    if (c.remove_first) ASSERT_EQ(0, std::remove(w.Native(c.remove_first).c_str()));
    w.texts.clear();
    w.texts.push_back(c.text ? std::optional<QString>(w.Text(*c.text)) : std::nullopt);
    w.answers.assign(c.answers.begin(), c.answers.end());
    w.questions.clear();
    w.warnings.clear();
    const int dialogs = w.dialogs;
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
    for (const auto& [path, contents] : c.disk) {
      if (contents == kAbsent) {
        EXPECT_FALSE(Exists(w.Native(path))) << path;
      } else if (std::string(path) == "T/dir") {
        EXPECT_TRUE(fs::is_directory(w.Native(path)));
      } else {
        EXPECT_EQ(test::ReadWholeFile(w.Native(path)), contents) << path;
      }
    }
    EXPECT_TRUE(w.failures.empty());
    if (c.remove_first) {
      // Nothing changed, so the list is left as it was.
      const std::vector<std::string> rows = w.Rows();
      EXPECT_EQ(std::count(rows.begin(), rows.end(), c.select[0]), 1);
    } else {
      EXPECT_TRUE(w.ListMatchesDisk()) << "the list was not found again";
    }
  }
  // The deleted file is in the trash, with what restores it.
  const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash";
  EXPECT_EQ(test::ReadWholeFile(trash + "/files/a.txt"), "A");
  const std::string info = test::ReadWholeFile(trash + "/info/a.txt.trashinfo");
  EXPECT_NE(info.find("[Trash Info]"), std::string::npos) << info;
  EXPECT_NE(info.find("Path=" + w.t + "/a.txt\n"), std::string::npos) << info;
}

}  // namespace
}  // namespace quindelo::ui
