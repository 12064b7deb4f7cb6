// The commands that hand found files to the desktop, from the main frame's
// menus over a private desktop (support/fake_desktop.h): the programs they
// start, in which folder and with which arguments, and the warnings of
// their failures; the "Open With" entries; Properties and Open Containing
// Folder with and without a file manager answering.
#include "ui/desktop_commands.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QMenuBar>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "base/message_report.h"
#include "commands/clipboard_formats.h"
#include "commands/command_line.h"
#include "commands/command_texts.h"
#include "support/fake_desktop.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/help_paths.h"
#include "ui/main_frame.h"
#include "ui/properties_dialog.h"
#include "ui/qt_app.h"
#include "ui/results_model.h"
#include "ui/results_view.h"
#include "ui/run_dialog.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using test::RecordedStart;
using test::RunUntil;
using Starts = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Warnings from any thread, kept in order.
class RecordingSink : public MessageSink {
 public:
  void SetIndicator(const char*) override {}
  void SetStatus(const char*) override {}
  int ShowWarning(const char*, const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    warnings_.emplace_back(text);
    return kMessageBoxOk;
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(warnings_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> warnings_;
};

// A file manager that answers or not, and remembers the calls.
class FakeFileManager : public FileManager {
 public:
  explicit FakeFileManager(bool answers, std::vector<std::string>* calls)
      : answers_(answers), calls_(calls) {}
  void Call(const QString& method, const QStringList& uris,
            std::function<void(bool)> done) override {
    calls_->push_back(method.toStdString() + " " + uris.join(' ').toStdString());
    done(answers_);
  }

 private:
  bool answers_;
  std::vector<std::string>* calls_;
};

// A session bus of the test's own (no service can be started on it), set
// as the process's session bus before Qt first connects; ended with the
// process.
pid_t private_bus_pid = -1;
void EndPrivateBus() {
  if (private_bus_pid > 0) kill(private_bus_pid, SIGTERM);
}
bool StartPrivateBus(const std::string& folder) {
  const std::string config = folder + "/session-bus.conf";
  test::WriteTextFile(config,
                      "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                      "<auth>EXTERNAL</auth><policy context=\"default\">"
                      "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/>"
                      "<allow own=\"*\"/></policy></busconfig>\n");
  FILE* out = popen(("dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" +
                     config).c_str(), "r");
  if (out == nullptr) return false;
  char address[1024] = "";
  char pid[64] = "";
  const bool read = fgets(address, sizeof address, out) && fgets(pid, sizeof pid, out);
  pclose(out);
  if (!read) return false;
  address[strcspn(address, "\n")] = '\0';
  private_bus_pid = static_cast<pid_t>(atol(pid));
  atexit(EndPrivateBus);
  setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
  return private_bus_pid > 0;
}

// org.freedesktop.FileManager1 on the private bus: records the calls and
// answers each.
class BusFileManager : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return QString(); }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    QStringList uris = message.arguments().value(0).toStringList();
    calls.push_back(message.member().toStdString() + " " + uris.join(' ').toStdString());
    connection.send(message.createReply());
    return true;
  }
  std::vector<std::string> calls;
};

std::string CurrentFolder() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// The starts recorded until there are `count` of them (the programs run on
// after their commands return), sorted.
Starts WaitForStarts(std::size_t count) {
  Starts starts;
  RunUntil([&] {
    for (RecordedStart& start : test::TakeRecordedStarts())
      starts.emplace_back(start.folder, std::move(start.arguments));
    return starts.size() >= count;
  });
  std::sort(starts.begin(), starts.end());
  return starts;
}

struct DesktopFixture {
  DesktopFixture() {
    desktop = &test::InstallFakeDesktop();
    static const bool bus = StartPrivateBus(desktop->root);
    EXPECT_TRUE(bus);
    test::QtApp();
    test::TakeRecordedStarts();
    root = env.MakeDrive('T', "drive");
    folder = root + "/sub dir";
    test::MakeFolder(folder);
    for (const std::string& name : names) test::WriteTextFile(folder + "/" + name, "words\n");
    test::WriteTextFile(folder + "/data.bin", std::string("\x7f\x01\x02\x00\xff", 5));
    SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
    frame = std::make_unique<MainFrame>(test::QuickOptions());
    previous_sink = SetMessageSink(&sink);
    frame->Start("");
    frame->show();
    FindForm* form = frame->form();
    EXPECT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
    QTest::keyClicks(form->named_box()->lineEdit(), "*");
    EXPECT_TRUE(RunUntil([&] { return form->status_text() == "Found 5 files."; }));
    commands = frame->desktop_commands();
  }
  ~DesktopFixture() {
    commands->WaitForBatches();
    SetMessageSink(previous_sink);
    frame->set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
    frame->close();
    RunUntil([&] { return frame->form()->closed(); });
    frame.reset();
  }
  // Selects the rows of these names (the folder "sub dir" and its four files
  // are found).
  void Select(const std::vector<std::string>& selected) {
    ResultsView* view = frame->form()->results_view();
    view->clearSelection();
    for (int row = 0; row < view->results()->RowCount(); ++row) {
      const std::string name = view->results()->RowRecord(row)->name();
      if (std::count(selected.begin(), selected.end(), name) > 0)
        view->selectionModel()->select(view->results()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    frame->UpdateCommands();
  }
  std::string Native(const std::string& name) const { return folder + "/" + name; }
  std::string Shown(const std::string& name) const { return "T:\\sub dir\\" + name; }

  const test::FakeDesktop* desktop = nullptr;
  test::ScopedTestEnv env;
  std::string root;
  std::string folder;
  const std::vector<std::string> names = {"it's \"q\" a;b $HOME.txt", "new\nline.txt", "plain.txt"};
  RecordingSink sink;
  MessageSink* previous_sink = nullptr;
  std::unique_ptr<MainFrame> frame;
  DesktopCommands* commands = nullptr;
};

TEST(DesktopCommandsTest, OpenPrintTextEditAndRunStartTheirPrograms) {
  DesktopFixture f;
  const std::string hostile = f.names[0];
  const std::string newline = f.names[1];
  const std::string here = CurrentFolder();
  // Two fake lp programs: the recorder itself (exit 0), and one that
  // records and fails.
  const std::string lp_ok = f.desktop->root + "/lp-ok";
  const std::string lp_fails = f.desktop->root + "/lp-fails";
  test::MakeFolder(lp_ok);
  test::MakeFolder(lp_fails);
  ASSERT_EQ(symlink(f.desktop->recorder.c_str(), (lp_ok + "/lp").c_str()), 0);
  test::WriteTextFile(lp_fails + "/lp",
                      "#!/bin/sh\n\"" + f.desktop->recorder + "\" \"$@\"\nexit 1\n");
  ASSERT_EQ(chmod((lp_fails + "/lp").c_str(), 0755), 0);
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  const std::string viewer_tag = "--tag=a\\b";
  const std::string run_line = f.desktop->recorder + " --run \"%1\"";

  struct Case {
    const char* title;
    int command;
    std::vector<std::string> selected;
    std::string search_path;  // PATH for this case; the test's own when empty
    Starts starts;
    std::vector<std::string> warnings;
  } cases[] = {
      {"Open: the default application, in the file's folder, the name one argument",
       kCmdOpen, {hostile, newline}, "",
       {{f.folder, {viewer_tag, "--viewer", f.Native(hostile)}},
        {f.folder, {viewer_tag, "--viewer", f.Native(newline)}}}, {}},
      {"Enter or a double click opens", 0, {"plain.txt"}, "",
       {{f.folder, {viewer_tag, "--viewer", f.Native("plain.txt")}}}, {}},
      {"Open: a type without a default application", kCmdOpen, {"data.bin"}, "", {},
       {commands::OpenFailedMessage("open", f.Shown("data.bin"))}},
      {"Text Edit: the plain-text application whatever the type, no working folder",
       kCmdTextEdit, {"data.bin"}, "", {{here, {viewer_tag, "--viewer", f.Native("data.bin")}}},
       {}},
      {"Print: lp exits 0", kCmdPrint, {hostile}, lp_ok + ":" + path,
       {{f.folder, {"--", f.Native(hostile)}}}, {}},
      {"Print: lp exits 1", kCmdPrint, {"plain.txt"}, lp_fails + ":" + path,
       {{f.folder, {"--", f.Native("plain.txt")}}},
       {commands::OpenFailedMessage("print", f.Shown("plain.txt")) +
        "\nlp ended with exit status 1."}},
      {"Print: no lp to start", kCmdPrint, {"plain.txt"}, "/nonexistent-quindelo", {},
       {commands::OpenFailedMessage("print", f.Shown("plain.txt")) +
        "\nlp: No such file or directory"}},
      {"Run: \"%1\" once per file, every name one argument", kCmdRun,
       {"data.bin", hostile, newline, "plain.txt"}, "",
       {{here, {"--run", f.Native("data.bin")}},
        {here, {"--run", f.Native(hostile)}},
        {here, {"--run", f.Native(newline)}},
        {here, {"--run", f.Native("plain.txt")}}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    f.Select(c.selected);
    if (c.command != 0) {
      ASSERT_TRUE(f.frame->action(c.command)->isEnabled());
    }
    setenv("PATH", (c.search_path.empty() ? path : c.search_path).c_str(), 1);
    QString start_text;
    f.commands->set_run_text_asker([&](const QString& start, QString* text) {
      start_text = start;
      *text = QString::fromStdString(run_line);
      return true;
    });
    std::vector<std::string> print_failures;
    f.commands->set_print_failure_asker([&](const QString& text) {
      print_failures.push_back(text.toStdString());
      return true;
    });
    if (c.command == 0)
      emit f.frame->form()->results_view()->openRequested();
    else
      f.frame->action(c.command)->trigger();
    f.commands->WaitForBatches();
    setenv("PATH", path.c_str(), 1);
    Starts expected = c.starts;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(WaitForStarts(expected.size()), expected);
    std::vector<std::string> warnings = f.sink.Take();
    RunUntil([&] { return print_failures.size() + warnings.size() >= c.warnings.size(); });
    warnings.insert(warnings.end(), print_failures.begin(), print_failures.end());
    EXPECT_EQ(warnings, c.warnings);
    if (c.command == kCmdRun) {
      EXPECT_EQ(start_text, "%1");
    }
  }

  // One file selected: the dialog starts with its path as one argument.
  f.Select({hostile});
  QString start_text;
  f.commands->set_run_text_asker([&](const QString& start, QString*) {
    start_text = start;
    return false;  // Cancel runs nothing
  });
  f.frame->action(kCmdRun)->trigger();
  f.commands->WaitForBatches();
  EXPECT_EQ(commands::SplitCommandLine(start_text.toStdString()),
            std::vector<std::string>{f.Native(hostile)});
  EXPECT_TRUE(test::TakeRecordedStarts().empty());
  RunDialog dialog(start_text);
  EXPECT_EQ(dialog.windowTitle(), "Run Command");
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(),
            "Enter the &command line to execute.  Use the string \"%1\" as replacement for each "
            "selected file name.");
  EXPECT_EQ(dialog.line()->text(), start_text);
  // A text longer than the 260 characters the line holds (a long path as
  // the starting text, a paste) stays whole, and OK refuses it.
  for (const int length : {260, 261, 309}) {
    SCOPED_TRACE(length);
    const QString text = QString::fromStdString(std::string(static_cast<std::size_t>(length), 'x'));
    RunDialog long_dialog(text);
    std::vector<QString> refusals;
    long_dialog.set_warning_handler([&](const QString& message) { refusals.push_back(message); });
    EXPECT_EQ(long_dialog.line()->text(), text);
    long_dialog.accept();
    EXPECT_EQ(long_dialog.result() == QDialog::Accepted, length <= 260);
    EXPECT_EQ(refusals.size(), length <= 260 ? 0u : 1u);
    EXPECT_EQ(long_dialog.text(), text);
  }

  // Without a selection the file commands are off; Run stays on.
  f.Select({"no such row"});
  for (int command : {kCmdOpen, kCmdPrint, kCmdTextEdit, kCmdProperties, kCmdOpenContainingFolder})
    EXPECT_FALSE(f.frame->action(command)->isEnabled()) << command;
  EXPECT_TRUE(f.frame->action(kCmdRun)->isEnabled());
}

// Print while a Run batch waits for its program: the print is carried out
// at once. When the commands go (the window closes), the prints asked for
// are carried out and a Run batch that has not started is reported.
TEST(DesktopCommandsTest, PrintDoesNotWaitBehindRunAndNothingIsDroppedSilently) {
  DesktopFixture f;
  const std::string lp_ok = f.desktop->root + "/lp-ok";
  test::MakeFolder(lp_ok);
  ASSERT_EQ(symlink(f.desktop->recorder.c_str(), (lp_ok + "/lp").c_str()), 0);
  // A program that runs until the test lets it end.
  const std::string release = f.desktop->root + "/release";
  const std::string waiter = f.desktop->root + "/waiter";
  test::WriteTextFile(waiter, "#!/bin/sh\nwhile [ ! -e '" + release +
                                  "' ]; do sleep 0.05; done\n");
  ASSERT_EQ(chmod(waiter.c_str(), 0755), 0);
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (lp_ok + ":" + path).c_str(), 1);
  const QString run_line = QString::fromStdString(waiter + " %1");
  auto answer_run = [&](DesktopCommands* commands) {
    commands->set_run_text_asker([&](const QString&, QString* text) {
      *text = run_line;
      return true;
    });
  };

  // Two files: the batch waits for the first command.
  f.Select({"data.bin", "plain.txt"});
  answer_run(f.commands);
  f.frame->action(kCmdRun)->trigger();
  f.Select({"plain.txt"});
  f.frame->action(kCmdPrint)->trigger();
  EXPECT_EQ(WaitForStarts(1), (Starts{{f.folder, {"--", f.Native("plain.txt")}}}));

  // Commands of their own, going while their Run batch waits: the print
  // is done, the second batch is reported as not run.
  f.Select({"data.bin", "plain.txt"});
  auto* going = new DesktopCommands(f.frame->form()->results_view(), f.frame.get());
  answer_run(going);
  going->Run();
  going->Run();
  f.Select({"data.bin"});
  going->Print();
  delete going;
  EXPECT_EQ(WaitForStarts(1), (Starts{{f.folder, {"--", f.Native("data.bin")}}}));
  const std::vector<std::string> warnings = f.sink.Take();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(waiter + " %1\" was not run"), std::string::npos) << warnings[0];

  test::WriteTextFile(release, "");
  f.commands->WaitForBatches();
  EXPECT_TRUE(f.sink.Take().empty());
  // PATH keeps the recording lp: the deleted commands' worker goes on with
  // its batch after the release and reads the environment as it starts the
  // next program, and nothing here can wait for that worker, so changing
  // the environment now would race with it. Every later test sets its own.
}

// Print over many files without a printer: one box at a time, in list
// order, each with lp's cause on its second line; "Stop Printing" (Esc)
// skips the rest of that print's messages. The next Print asks again.
TEST(DesktopCommandsTest, PrintFailuresShowOneAtATimeWithTheirCauseUntilStopped) {
  DesktopFixture f;
  const std::string lp_dir = f.desktop->root + "/lp-no-destination";
  test::MakeFolder(lp_dir);
  test::WriteTextFile(lp_dir + "/lp",
                      "#!/bin/sh\necho 'lp: Error - No default destination.' >&2\nexit 1\n");
  ASSERT_EQ(chmod((lp_dir + "/lp").c_str(), 0755), 0);
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (lp_dir + ":" + path).c_str(), 1);
  const std::vector<std::string> files = {"data.bin", f.names[0], f.names[1], "plain.txt"};
  auto message = [&](const std::string& name) {
    return commands::OpenFailedMessage("print", f.Shown(name)) +
           "\nlp: Error - No default destination.";
  };

  // The user's side: answers each box as it comes, by key, and notes how
  // many were open at once.
  std::vector<std::string> shown;
  std::size_t most_open = 0;
  std::size_t stop_at = 3;  // Esc on this box, Enter on the others
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    std::vector<QMessageBox*> open;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
        open.push_back(box);
    most_open = std::max(most_open, open.size());
    if (open.empty()) return;
    QMessageBox* box = open.front();
    EXPECT_EQ(box->windowTitle(), "Pemblet Quindelo");
    EXPECT_EQ(box->parentWidget(), f.frame.get());
    shown.push_back(box->text().toStdString());
    QTest::keyClick(box, shown.size() == stop_at ? Qt::Key_Escape : Qt::Key_Return);
  });
  user.start(5);

  f.Select(files);
  f.frame->action(kCmdPrint)->trigger();
  ASSERT_TRUE(RunUntil([&] { return shown.size() >= stop_at; }));
  f.commands->WaitForBatches();
  RunUntil([&] { return QApplication::activeModalWidget() == nullptr; });
  QApplication::processEvents();
  EXPECT_EQ(shown, (std::vector<std::string>{message(files[0]), message(files[1]),
                                             message(files[2])}));
  EXPECT_EQ(most_open, 1u);

  // A new Print is a new command: its failures are shown again.
  shown.clear();
  stop_at = 0;
  f.Select({"plain.txt", "data.bin"});
  f.frame->action(kCmdPrint)->trigger();
  ASSERT_TRUE(RunUntil([&] { return shown.size() >= 2; }));
  f.commands->WaitForBatches();
  QApplication::processEvents();
  EXPECT_EQ(shown, (std::vector<std::string>{message("data.bin"), message("plain.txt")}));
  EXPECT_EQ(most_open, 1u);
  user.stop();
  setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(f.sink.Take().empty());
}

// Help Topics, Quick Start and Home Page start the desktop's browser on
// their addresses; when it cannot be started, each says so with the
// command line and the address to visit.
TEST(DesktopCommandsTest, HelpAndHomePageStartTheBrowserOrSayWhyNot) {
  DesktopFixture f;
  const std::string here = CurrentFolder();
  const std::string page = QuickStartUrl().toString().toStdString();
  ASSERT_FALSE(page.empty());
  const struct {
    int command;
    std::string address;
  } commands_[] = {
      {kCmdHelpTopics, page},
      {kCmdQuickStart, page + "#quick-start"},
      {kCmdHomePage, kHomePageUrl},
  };
  for (const bool starts : {true, false}) {
    test::SetFakeBrowserStarts(starts);
    for (const auto& c : commands_) {
      SCOPED_TRACE(c.address + (starts ? " (browser starts)" : " (browser fails to start)"));
      f.frame->action(c.command)->trigger();
      if (starts) {
        EXPECT_EQ(WaitForStarts(1), (Starts{{here, {"--browser", c.address}}}));
        EXPECT_TRUE(f.sink.Take().empty());
      } else {
        EXPECT_EQ(f.sink.Take(),
                  (std::vector<std::string>{
                      "Unable to run command line:\n\"" + f.desktop->browser + " --browser " +
                          c.address + "\".",
                      "Unable to start your web browser.  Please visit \"" + c.address +
                          "\" with your browser."}));
      }
    }
  }
  test::SetFakeBrowserStarts(true);
  EXPECT_TRUE(test::TakeRecordedStarts().empty());
}

TEST(DesktopCommandsTest, OpenWithPropertiesAndContainingFolder) {
  DesktopFixture f;
  const std::string hostile = f.names[0];
  const std::string viewer_tag = "--tag=a\\b";

  // The popup lists the applications of the first file's type; each starts
  // on every selected file (the viewer once per file, the lister once).
  f.Select({hostile, "plain.txt"});
  f.commands->RebuildOpenWith(f.frame->popup(), f.frame->action(kCmdOpen));
  f.commands->RebuildOpenWith(f.frame->popup(), f.frame->action(kCmdOpen));  // replaced, not added
  QStringList entries;
  for (QAction* act : f.frame->popup()->actions())
    if (act->objectName().startsWith("openWith:")) entries << act->text();
  EXPECT_EQ(entries,
            (QStringList{"Open With Quindelo Test Viewer", "Open With Quindelo Test Lister",
                         "Open With Quindelo Test Console"}));
  // The File menu gets the same entries at its top each time it opens.
  QMenu* file_menu = f.frame->menuBar()->actions().value(0)->menu();
  ASSERT_NE(file_menu, nullptr);
  for (int opened = 0; opened < 2; ++opened) emit file_menu->aboutToShow();
  QStringList file_entries;
  for (QAction* act : file_menu->actions().mid(0, 5))
    file_entries << (act->isSeparator() ? QString("-") : act->text());
  EXPECT_EQ(file_entries,
            (QStringList{"Open With Quindelo Test Viewer", "Open With Quindelo Test Lister",
                         "Open With Quindelo Test Console", "-", "&Open"}));
  EXPECT_TRUE(f.frame->action(kCmdProperties)
                  ->shortcuts()
                  .contains(QKeySequence(Qt::ALT | Qt::Key_Return)));

  const struct {
    const char* entry;
    Starts starts;
  } open_with[] = {
      {"openWith:quindelo-test-viewer.desktop",
       {{f.folder, {viewer_tag, "--viewer", f.Native(hostile)}},
        {f.folder, {viewer_tag, "--viewer", f.Native("plain.txt")}}}},
      {"openWith:quindelo-test-lister.desktop",
       {{f.folder, {"--lister", f.Native(hostile), f.Native("plain.txt")}}}},
      {"openWith:quindelo-test-console.desktop",
       {{f.folder, {"-e", f.desktop->recorder, "--console", f.Native(hostile)}},
        {f.folder, {"-e", f.desktop->recorder, "--console", f.Native("plain.txt")}}}},
  };
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (f.desktop->root + "/bin:" + path).c_str(), 1);
  for (const auto& c : open_with) {
    SCOPED_TRACE(c.entry);
    QAction* entry = f.frame->popup()->findChild<QAction*>(c.entry);
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    Starts expected = c.starts;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(WaitForStarts(expected.size()), expected);
  }
  f.commands->WaitForBatches();
  setenv("PATH", path.c_str(), 1);

  // Properties and Open Containing Folder: a file manager that answers is
  // left to do it; without one, our dialog and the folder's own application.
  std::vector<std::string> calls;
  const std::string uris = commands::FileUri(f.Native(hostile));
  const struct {
    const char* title;
    int command;
    int manager;  // 0 the session bus, 1 answers, 2 fails
    std::vector<std::string> calls;
    bool dialog;
    Starts starts;
  } cases[] = {
      {"Properties, file manager answers", kCmdProperties, 1, {"ShowItemProperties " + uris},
       false, {}},
      {"Properties, file manager fails", kCmdProperties, 2, {"ShowItemProperties " + uris},
       true, {}},
      {"Properties, no file manager on the bus", kCmdProperties, 0, {}, true, {}},
      {"Properties, a file manager on the bus", kCmdProperties, 3,
       {"ShowItemProperties " + uris}, false, {}},
      {"Containing folder, file manager answers", kCmdOpenContainingFolder, 1,
       {"ShowItems " + uris}, false, {}},
      {"Containing folder, a file manager on the bus", kCmdOpenContainingFolder, 3,
       {"ShowItems " + uris}, false, {}},
      {"Containing folder, no file manager on the bus", kCmdOpenContainingFolder, 0, {}, false,
       {{f.folder, {viewer_tag, "--viewer", f.folder}}}},
  };
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
  BusFileManager bus_manager;
  f.Select({hostile});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    calls.clear();
    bus.unregisterObject("/org/freedesktop/FileManager1");
    bus.unregisterService("org.freedesktop.FileManager1");
    bus_manager.calls.clear();
    if (c.manager == 3) {
      ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
      ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/FileManager1", &bus_manager));
    }
    if (c.manager == 0 || c.manager == 3)
      f.commands->set_file_manager(MakeSessionBusFileManager(5000));
    else
      f.commands->set_file_manager(std::make_unique<FakeFileManager>(c.manager == 1, &calls));
    if (f.commands->properties_dialog()) f.commands->properties_dialog()->close();
    ASSERT_TRUE(RunUntil([&] { return f.commands->properties_dialog() == nullptr; }));
    f.frame->action(c.command)->trigger();
    if (c.dialog) {
      ASSERT_TRUE(RunUntil([&] { return f.commands->properties_dialog() != nullptr; }));
    }
    if (c.manager == 3) {
      ASSERT_TRUE(RunUntil([&] { return !bus_manager.calls.empty(); }));
      calls = bus_manager.calls;
    }
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(f.commands->properties_dialog() != nullptr, c.dialog);
    if (PropertiesDialog* dialog = f.commands->properties_dialog()) {
      EXPECT_EQ(dialog->Field("Path").toStdString(), f.Native(hostile));
      EXPECT_EQ(dialog->Field("Type"), "text/plain");
      EXPECT_EQ(dialog->Field("Size"), "6 bytes");
      EXPECT_EQ(dialog->Field("Permissions").size(), 10);
    }
    EXPECT_EQ(WaitForStarts(c.starts.size()), c.starts);
  }
  EXPECT_TRUE(f.sink.Take().empty());
  bus.unregisterObject("/org/freedesktop/FileManager1");
  bus.unregisterService("org.freedesktop.FileManager1");
}

}  // namespace
}  // namespace quindelo::ui
