// A real file chooser of another process on the accessibility bus: zenity's
// GTK file chooser is found, takes a path and prints it when its OK button
// is clicked. Runs inside tests/desktop_bus/run_with_desktop_bus.sh (a
// virtual X display and a session bus of its own).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands/open_dialog_return.h"

extern char** environ;

namespace quindelo::commands {
namespace {

// A zenity file chooser (or another dialog program); its output read when
// it ends.
class Zenity {
 public:
  explicit Zenity(std::vector<std::string> args, const char* program = "zenity") {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~Zenity() {
    if (pid_ > 0) {
      kill(pid_, SIGCONT);
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  int pid() const { return pid_; }
  // Whether it has ended already (it could not reach the display, say).
  bool Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = 0;
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }
  // The exit status once Ended() said so; -1 when killed or running.
  int exit_status() const { return exit_status_; }
  // Everything it printed, once it has ended; its exit status in *status.
  std::string Finish(int* status) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    waitpid(pid_, status, 0);
    pid_ = 0;
    return text;
  }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
  int exit_status_ = -1;
};

// The button whose name is name, or (GTK 4 names a button by its mnemonic
// text and its label, "_Open Open") ends with " " and name.
const AccessibleNode* FindButton(const AccessibleNode& node, const std::string& name, int depth) {
  const std::string text = node.Role() == AccessibleRole::kPushButton ? node.Name() : "";
  if (text == name || (text.size() > name.size() &&
                       text.compare(text.size() - name.size() - 1, std::string::npos,
                                    " " + name) == 0))
    return &node;
  if (depth > 40) return nullptr;
  for (int i = 0; i < node.ChildCount(); ++i)
    if (const AccessibleNode* child = node.Child(i))
      if (const AccessibleNode* found = FindButton(*child, name, depth + 1)) return found;
  return nullptr;
}

// The dialog's OK button (or the one named name), in the application of pid.
const AccessibleNode* OkButton(AccessibleDesktop& desktop, int pid,
                               const std::string& name = "OK") {
  const AccessibleNode* root = desktop.Root();
  for (int a = 0; root != nullptr && a < root->ChildCount(); ++a) {
    const AccessibleNode* application = root->Child(a);
    if (application != nullptr && application->ProcessId() == pid)
      return FindButton(*application, name, 0);
  }
  return nullptr;
}

// Waits (bounded) until the chooser is on the bus, or has ended.
OpenDialogState AwaitDialog(AccessibleDesktop& desktop, Zenity* zenity) {
  OpenDialogState state;
  for (int attempt = 0; attempt < 300 && !state.found; ++attempt) {
    state = LookForOpenDialog(desktop, getpid());
    if (state.found || zenity->Ended()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return state;
}

// Starts a chooser and waits until it is on the bus. A chooser that ends at
// once (the fresh display refused its first client) is started again, at
// most three times.
std::unique_ptr<Zenity> StartChooser(AccessibleDesktop& desktop, const std::vector<std::string>& args,
                                     OpenDialogState* state, const char* program = "zenity") {
  std::unique_ptr<Zenity> zenity;
  for (int start = 0; start < 3; ++start) {
    zenity = std::make_unique<Zenity>(args, program);
    if (zenity->pid() <= 0) break;
    *state = AwaitDialog(desktop, zenity.get());
    if (state->found || !zenity->Ended()) break;
  }
  return zenity;
}

class ZenityChooser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* reason = std::getenv("QUINDELO_DESKTOP_BUS_SKIP")) GTEST_SKIP() << reason;
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through run_with_desktop_bus.sh";
    path_ = ::testing::TempDir() + "quindelo chosen 'file'.txt";
    std::ofstream(path_) << "text\n";
  }
  std::string path_;
};

TEST_F(ZenityChooser, FoundWrittenAndReturnedByOk) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string type_text;  // the file-type list's current text
    std::string named;      // what the Named box adopts; empty: nothing
  };
  const Case cases[] = {
      {"open dialog without filters", {"--file-selection"}, "", ""},
      {"open dialog with a pattern filter",
       {"--file-selection", "--file-filter=Text Documents (*.txt) | *.txt *.text"},
       "Text Documents (*.txt)", "*.txt"},
      {"save dialog", {"--file-selection", "--save"}, "", ""},
  };
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(2000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenDialogState state;
    std::unique_ptr<Zenity> chooser = StartChooser(*desktop, c.args, &state);
    Zenity& zenity = *chooser;
    ASSERT_GT(zenity.pid(), 0);
    ASSERT_TRUE(state.found);
    EXPECT_EQ(state.type_text, c.type_text);
    std::string named;
    EXPECT_EQ(NamedTextOfFileType(state.type_text, &named), !c.named.empty());
    EXPECT_EQ(named, c.named);
    // Its own process is left out.
    EXPECT_FALSE(LookForOpenDialog(*desktop, zenity.pid()).found);

    ASSERT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kReturned);
    // OK is enabled once the chooser has taken the text in.
    const AccessibleNode* ok = nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
      ok = OkButton(*desktop, zenity.pid());
      if (ok != nullptr && ok->HasState(AccessibleState::kEnabled)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(ok, nullptr);
    ASSERT_TRUE(desktop->DoAction(*ok, "click"));
    int status = -1;
    EXPECT_EQ(zenity.Finish(&status), path_ + "\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Gone from the bus once it has ended.
    EXPECT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kNoDialog);
  }
}

// Whether the program of pid shows a window on the bus yet.
bool ShowsWindow(AccessibleDesktop& desktop, int pid) {
  const AccessibleNode* root = desktop.Root();
  for (int a = 0; root != nullptr && a < root->ChildCount(); ++a) {
    const AccessibleNode* application = root->Child(a);
    if (application == nullptr || application->ProcessId() != pid) continue;
    for (int w = 0; w < application->ChildCount(); ++w) {
      const AccessibleNode* window = application->Child(w);
      if (window != nullptr && window->HasState(AccessibleState::kShowing)) return true;
    }
  }
  return false;
}

// A modal dialog that asks for a name is no open dialog: it is passed over
// while it shows, and a file chooser showing beside it is found instead.
TEST_F(ZenityChooser, ADialogAskingForANameIsNoOpenDialog) {
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(2000);
  Zenity entry({"--entry", "--modal", "--title=Create Folder", "--text=Name:"});
  ASSERT_GT(entry.pid(), 0);
  bool shown = false;
  for (int attempt = 0; attempt < 300 && !shown && !entry.Ended(); ++attempt) {
    shown = ShowsWindow(*desktop, entry.pid());
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(shown);
  EXPECT_FALSE(LookForOpenDialog(*desktop, getpid()).found);
  EXPECT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kNoDialog);

  OpenDialogState state;
  std::unique_ptr<Zenity> chooser = StartChooser(*desktop, {"--file-selection"}, &state);
  ASSERT_TRUE(state.found);
  EXPECT_FALSE(LookForOpenDialog(*desktop, chooser->pid()).found);  // the entry dialog alone
}

// The first press returns the file: a fresh chooser shows its location
// entry only some time after being asked to, and the return waits for it.
TEST_F(ZenityChooser, FirstPressReturnsTheFile) {
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(2000);
  constexpr int kChoosers = 5;
  int first_press_returned = 0;
  for (int run = 0; run < kChoosers; ++run) {
    OpenDialogState state;
    std::unique_ptr<Zenity> zenity = StartChooser(*desktop, {"--file-selection"}, &state);
    ASSERT_GT(zenity->pid(), 0);
    ASSERT_TRUE(state.found);
    if (ReturnToOpenDialog(*desktop, getpid(), path_) == ReturnOutcome::kReturned)
      ++first_press_returned;
  }
  EXPECT_EQ(first_press_returned, kChoosers);
}

// The distribution's Python, which has the distribution's GTK bindings.
constexpr char kSystemPython[] = "/usr/bin/python3";

// Whether node holds a combo box (GTK 4's chooser has built its filter
// list, and so the rest of its tree).
bool HoldsComboBox(const AccessibleNode& node, int depth) {
  if (node.Role() == AccessibleRole::kComboBox) return true;
  for (int i = 0; depth < 40 && i < node.ChildCount(); ++i)
    if (const AccessibleNode* child = node.Child(i))
      if (HoldsComboBox(*child, depth + 1)) return true;
  return false;
}

// GTK 4's chooser: a modal dialog of the plain dialog role that reports no
// showing state and offers no "show_location" action. While it browses
// there is no field to write into; once its location entry shows it is
// found, takes the path and returns it by its Open button.
TEST_F(ZenityChooser, Gtk4ChooserOnceItsLocationEntryShows) {
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(2000);
  {
    Zenity browsing({QUINDELO_GTK4_CHOOSER}, kSystemPython);
    ASSERT_GT(browsing.pid(), 0);
    bool built = false;
    for (int attempt = 0; attempt < 300 && !built && !browsing.Ended(); ++attempt) {
      const AccessibleNode* root = desktop->Root();
      for (int a = 0; root != nullptr && a < root->ChildCount() && !built; ++a) {
        const AccessibleNode* application = root->Child(a);
        built = application != nullptr && application->ProcessId() == browsing.pid() &&
                HoldsComboBox(*application, 0);
      }
      if (!built) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (browsing.exit_status() == 77) GTEST_SKIP() << "GTK 4 for Python is not installed";
    ASSERT_TRUE(built);
    EXPECT_FALSE(LookForOpenDialog(*desktop, getpid()).found);
  }

  OpenDialogState state;
  std::unique_ptr<Zenity> chooser =
      StartChooser(*desktop, {QUINDELO_GTK4_CHOOSER, "--location"}, &state, kSystemPython);
  ASSERT_GT(chooser->pid(), 0);
  ASSERT_TRUE(state.found);
  ASSERT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kReturned);
  const AccessibleNode* open = nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    open = OkButton(*desktop, chooser->pid(), "Open");
    if (open != nullptr && open->HasState(AccessibleState::kSensitive)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(desktop->DoAction(*open, "click"));
  int status = -1;
  EXPECT_EQ(chooser->Finish(&status), path_ + "\n");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

#ifdef QUINDELO_QT_FILE_DIALOG
// Qt's own modal file dialog in another Qt program: found by its labels and
// its modal state, its type list adopted, the path written and returned by
// its Open button.
TEST_F(ZenityChooser, QtFileDialogOfAnotherProgram) {
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(2000);
  // Qt joins the accessibility bus at its start only when the bus is up.
  ASSERT_NE(desktop->Root(), nullptr);
  OpenDialogState state;
  std::unique_ptr<Zenity> dialog = StartChooser(*desktop, {}, &state, QUINDELO_QT_FILE_DIALOG);
  ASSERT_GT(dialog->pid(), 0);
  ASSERT_TRUE(state.found);
  EXPECT_EQ(state.type_text, "Text Documents (*.txt)");
  ASSERT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kReturned);
  const AccessibleNode* open = nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    open = OkButton(*desktop, dialog->pid(), "Open");
    if (open != nullptr && open->HasState(AccessibleState::kEnabled)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(desktop->DoAction(*open, "Press") || desktop->DoAction(*open, "click"));
  int status = -1;
  EXPECT_EQ(dialog->Finish(&status), path_ + "\n");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

TEST_F(ZenityChooser, HungApplicationDoesNotHangTheSearch) {
  std::unique_ptr<AccessibleDesktop> desktop = MakeAccessibilityBusDesktop(500);
  OpenDialogState state;
  std::unique_ptr<Zenity> chooser = StartChooser(*desktop, {"--file-selection"}, &state);
  Zenity& zenity = *chooser;
  ASSERT_GT(zenity.pid(), 0);
  ASSERT_TRUE(state.found);
  ASSERT_EQ(kill(zenity.pid(), SIGSTOP), 0);
  // Each call into the stopped program times out; the search ends without
  // a dialog, and the program is found again once it answers.
  EXPECT_FALSE(LookForOpenDialog(*desktop, getpid()).found);
  EXPECT_EQ(ReturnToOpenDialog(*desktop, getpid(), path_), ReturnOutcome::kNoDialog);
  ASSERT_EQ(kill(zenity.pid(), SIGCONT), 0);
  EXPECT_TRUE(AwaitDialog(*desktop, &zenity).found);
}

}  // namespace
}  // namespace quindelo::commands
