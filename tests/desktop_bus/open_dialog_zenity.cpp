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

// A zenity file chooser; its output read when it ends.
class Zenity {
 public:
  explicit Zenity(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), "zenity");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "zenity", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
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
    return true;
  }
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
};

const AccessibleNode* FindButton(const AccessibleNode& node, const std::string& name, int depth) {
  if (node.Role() == AccessibleRole::kPushButton && node.Name() == name) return &node;
  if (depth > 40) return nullptr;
  for (int i = 0; i < node.ChildCount(); ++i)
    if (const AccessibleNode* child = node.Child(i))
      if (const AccessibleNode* found = FindButton(*child, name, depth + 1)) return found;
  return nullptr;
}

// The dialog's OK button, in the application of pid.
const AccessibleNode* OkButton(AccessibleDesktop& desktop, int pid) {
  const AccessibleNode* root = desktop.Root();
  for (int a = 0; root != nullptr && a < root->ChildCount(); ++a) {
    const AccessibleNode* application = root->Child(a);
    if (application != nullptr && application->ProcessId() == pid)
      return FindButton(*application, "OK", 0);
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
                                     OpenDialogState* state) {
  std::unique_ptr<Zenity> zenity;
  for (int start = 0; start < 3; ++start) {
    zenity = std::make_unique<Zenity>(args);
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
