// Open, Print, Text Edit and Run over a selection against desktop services
// given in the test: what each file is handed to, in which folder, which
// processes are waited for, which warnings appear; and the real process
// start, which gives a program exactly its arguments, never a shell.
#include "commands/file_commands.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands/command_texts.h"
#include "commands/process_start.h"
#include "base/message_report.h"
#include "support/test_env.h"

namespace quindelo::commands {
namespace {

using Args = std::vector<std::string>;

class WarningRecorder : public MessageSink {
 public:
  WarningRecorder() { previous_ = SetMessageSink(this); }
  ~WarningRecorder() override { SetMessageSink(previous_); }
  void SetIndicator(const char*) override {}
  void SetStatus(const char*) override {}
  int ShowWarning(const char* caption, const char* text) override {
    EXPECT_STREQ("Pemblet Quindelo", caption);
    warnings.push_back(text);
    return kMessageBoxOk;
  }
  std::vector<std::string> warnings;

 private:
  MessageSink* previous_;
};

class FakeDesktop : public DesktopServices {
 public:
  struct Call {
    std::string what;  // "open", "print" or "start"
    Args arguments;    // the path for open and print
    std::string folder;
    bool wait = false;
  };
  std::vector<Call> calls;
  std::string fail_path;      // open, print and start fail for this path
  std::string exec;           // the text editor's Exec value; empty: none
  std::string browser_exec;   // the browser's Exec value; empty: none
  std::string print_cause;    // what a failed print says
  int editor_lookups = 0;

  bool OpenWithDefaultApplication(const std::string& path, const std::string& folder) override {
    calls.push_back({"open", {path}, folder});
    return path != fail_path;
  }
  bool Print(const std::string& path, const std::string& folder, std::string* cause) override {
    calls.push_back({"print", {path}, folder});
    if (path != fail_path) return true;
    *cause = print_cause;
    return false;
  }
  bool BrowserExec(std::string* out) override {
    *out = browser_exec;
    return !browser_exec.empty();
  }
  bool TextEditorExec(std::string* out) override {
    ++editor_lookups;
    *out = exec;
    return !exec.empty();
  }
  bool StartProcess(const Args& arguments, const std::string& folder, bool wait) override {
    calls.push_back({"start", arguments, folder, wait});
    return arguments.back() != fail_path;
  }
};

const std::vector<SelectedFile> kFiles = {
    {"D:\\a.txt", "/d/a.txt"},
    {"D:\\My Files\\b c.txt", "/d/My Files/b c.txt"},
    {"D:\\x;$y\\\"q\".txt", "/d/x;$y/\"q\".txt"},
};

TEST(FileCommands, OpenAndPrintEachFileInItsFolderAndWarnPerFailure) {
  WarningRecorder recorder;
  FakeDesktop desktop;
  desktop.fail_path = "/d/My Files/b c.txt";
  FileCommands commands(&desktop);
  commands.ActOnSelectedFiles(FileCommand::kOpen, kFiles);
  commands.ActOnSelectedFiles(FileCommand::kPrint, {kFiles[1]});
  ASSERT_EQ(4u, desktop.calls.size());
  EXPECT_EQ("/d", desktop.calls[0].folder);
  EXPECT_EQ("/d/My Files", desktop.calls[1].folder);
  EXPECT_EQ((Args{"/d/x;$y/\"q\".txt"}), desktop.calls[2].arguments);
  EXPECT_EQ("/d/x;$y", desktop.calls[2].folder);
  EXPECT_EQ("print", desktop.calls[3].what);
  EXPECT_EQ((std::vector<std::string>{
                "Unable to open file \"D:\\My Files\\b c.txt\".  Check that the file association "
                "is correct and that the program exists.",
                "Unable to print file \"D:\\My Files\\b c.txt\".  Check that the file association "
                "is correct and that the program exists."}),
            recorder.warnings);
}

// A failed print names the printing program's cause on a second line; a
// stop check ends the walk before the next file; a handler takes the
// failures instead of ReportWarning.
TEST(FileCommands, PrintFailuresCarryTheirCauseAndAStopEndsTheWalk) {
  WarningRecorder recorder;
  FakeDesktop desktop;
  FileCommands commands(&desktop);
  const std::string head =
      "Unable to print file \"D:\\My Files\\b c.txt\".  Check that the file association is "
      "correct and that the program exists.";
  const struct {
    const char* cause;
    std::string message;
  } cases[] = {
      {"lp: Error - No default destination.\n", head + "\nlp: Error - No default destination."},
      {"  \n", head},
      {"", head},
      {"first\nsecond\n", head + "\nfirst\nsecond"},
  };
  for (const auto& c : cases) {
    desktop.fail_path = kFiles[1].native_path;
    desktop.print_cause = c.cause;
    commands.ActOnSelectedFiles(FileCommand::kPrint, {kFiles[1]});
    EXPECT_EQ(std::vector<std::string>{c.message}, recorder.warnings) << c.cause;
    recorder.warnings.clear();
  }

  std::vector<std::string> handled;
  int checks = 0;
  commands.set_warning_handler([&](const std::string& text) { handled.push_back(text); });
  commands.set_stop_check([&] { return ++checks > 2; });
  desktop.calls.clear();
  desktop.print_cause = "lp: Error - No default destination.";
  commands.ActOnSelectedFiles(FileCommand::kPrint, kFiles);
  ASSERT_EQ(2u, desktop.calls.size());  // the third file is not printed
  EXPECT_EQ(std::vector<std::string>{head + "\nlp: Error - No default destination."}, handled);
  EXPECT_TRUE(recorder.warnings.empty());
}

TEST(FileCommands, BrowserStartsOnTheAddressOrSaysWhyNot) {
  WarningRecorder recorder;
  const std::string address = "file:///usr/share/quindelo/help/index.html#named";
  const std::string no_start = "Unable to start your web browser.  Please visit \"" + address +
                               "\" with your browser.";
  const struct {
    const char* title;
    std::string exec;
    bool starts;  // StartProcess succeeds
    Args started;
    std::vector<std::string> warnings;
  } cases[] = {
      {"no browser", "", true, {}, {"No association for HTML files.  Do you have an web browser installed?"}},
      {"the address for its file code", "firefox --new-window %u", true,
       {"firefox", "--new-window", address}, {}},
      {"no file code: appended", "\"/opt/My Browser/run\"", true, {"/opt/My Browser/run", address}, {}},
      {"cannot start", "gone-browser %U", false, {"gone-browser", address},
       {"Unable to run command line:\n\"gone-browser " + address + "\".", no_start}},
      {"Exec names no program", "%u", true, {},
       {"Unable to run command line:\n\"%u " + address + "\".", no_start}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    FakeDesktop desktop;
    desktop.browser_exec = c.exec;
    if (!c.starts) desktop.fail_path = address;
    FileCommands commands(&desktop);
    EXPECT_EQ(commands.OpenInBrowser(address), c.warnings.empty());
    if (c.started.empty()) {
      EXPECT_TRUE(desktop.calls.empty());
    } else {
      ASSERT_EQ(1u, desktop.calls.size());
      EXPECT_EQ(c.started, desktop.calls[0].arguments);
      EXPECT_EQ("", desktop.calls[0].folder);
      EXPECT_FALSE(desktop.calls[0].wait);
    }
    EXPECT_EQ(c.warnings, recorder.warnings);
    recorder.warnings.clear();
  }
}

TEST(FileCommands, TextEditLooksUpOnceItFindsAndWarnsPerFileUntilThen) {
  WarningRecorder recorder;
  FakeDesktop desktop;
  FileCommands commands(&desktop);
  commands.ActOnSelectedFiles(FileCommand::kTextEdit, kFiles);
  EXPECT_EQ(3, desktop.editor_lookups);
  EXPECT_EQ(std::vector<std::string>(3, "No association for text files."), recorder.warnings);
  EXPECT_TRUE(desktop.calls.empty());

  desktop.exec = "\"/opt/My Ed/ed\" --tab %U";
  desktop.fail_path = "/d/a.txt";
  recorder.warnings.clear();
  commands.ActOnSelectedFiles(FileCommand::kTextEdit, kFiles);
  commands.ActOnSelectedFiles(FileCommand::kTextEdit, {kFiles[1]});
  EXPECT_EQ(4, desktop.editor_lookups);  // kept after the first success
  ASSERT_EQ(4u, desktop.calls.size());
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((Args{"/opt/My Ed/ed", "--tab", kFiles[i].native_path}), desktop.calls[i].arguments);
    EXPECT_FALSE(desktop.calls[i].wait);
    EXPECT_EQ("", desktop.calls[i].folder);
  }
  EXPECT_EQ((std::vector<std::string>{
                "Unable to run command line:\n\"\"/opt/My Ed/ed\" --tab /d/a.txt\"."}),
            recorder.warnings);
}

TEST(FileCommands, RunWaitsForAllButTheLastAndStopsAtTheFirstFailure) {
  WarningRecorder recorder;
  FakeDesktop desktop;
  FileCommands commands(&desktop);
  commands.RunCommandOnSelection("gzip -k %1", kFiles);
  ASSERT_EQ(3u, desktop.calls.size());
  EXPECT_TRUE(desktop.calls[0].wait);
  EXPECT_TRUE(desktop.calls[1].wait);
  EXPECT_FALSE(desktop.calls[2].wait);
  EXPECT_EQ((Args{"gzip", "-k", "/d/x;$y/\"q\".txt"}), desktop.calls[2].arguments);
  EXPECT_TRUE(recorder.warnings.empty());

  desktop.calls.clear();
  desktop.fail_path = kFiles[1].native_path;
  commands.RunCommandOnSelection("gzip -k %1", kFiles);
  EXPECT_EQ(2u, desktop.calls.size());  // the third never starts
  EXPECT_EQ((std::vector<std::string>{
                "Unable to run command line:\n\"gzip -k \"/d/My Files/b c.txt\"\"."}),
            recorder.warnings);

  desktop.calls.clear();
  recorder.warnings.clear();
  commands.RunCommandOnSelection("make", kFiles);       // once, whatever is selected
  commands.RunCommandOnSelection("wc %1", {});          // nothing selected: nothing runs
  commands.RunCommandOnSelection("  ", kFiles);         // no program
  ASSERT_EQ(1u, desktop.calls.size());
  EXPECT_EQ((Args{"make"}), desktop.calls[0].arguments);
  EXPECT_EQ((std::vector<std::string>{"Unable to run command line:\n\"\"."}), recorder.warnings);
}

// A Run command line that hands the file to a shell as script, run for
// real on hostile names: the shell gets the name as one word and never runs
// it; command lines that cannot keep it a name run nothing and say why.
TEST(FileCommands, RunNeverLetsAFileNameRunAsShellCode) {
  test::ScopedTestEnv env;
  const std::string folder = env.Path("work");
  test::MakeFolder(folder);
  const std::string names[] = {"$(touch PWNED).txt", "`touch PWNED`", "x;touch PWNED;y",
                               "it's \"q\" $HOME", "line\n$(touch PWNED)", "'; touch PWNED; '",
                               "\\'$(touch PWNED)\\", "* ?", "%1 and $1", "-n"};
  const char* lines[] = {
      "sh -c \"cat %1 > out\"",
      "sh -c \"cat '%1' >out\"",
      "bash -c \"cat \\\"%1\\\" > out\"",
      "env LC_ALL=C nice -n 5 nohup setsid -w dash -ec \"cat %1 > out\"",
      "timeout 60 bash -o pipefail -c \"cat <%1 | cat >out\"",
      "sh -c \"cat \\\"$1\\\" > out\" sh %1",
  };
  WarningRecorder recorder;
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    test::WriteTextFile(path, "contents of " + name);
    for (const char* line : lines) {
      SCOPED_TRACE(std::string(line) + " / " + name);
      FakeDesktop desktop;
      FileCommands(&desktop).RunCommandOnSelection(line, {{"D:\\x", path}});
      ASSERT_EQ(1u, desktop.calls.size());
      unlink((folder + "/out").c_str());
      int error = -1;
      ASSERT_TRUE(StartProcess(desktop.calls[0].arguments, folder, true, &error));
      EXPECT_EQ("contents of " + name, test::ReadWholeFile(folder + "/out"));
      EXPECT_NE(0, access((folder + "/PWNED").c_str(), F_OK));
    }
  }
  EXPECT_TRUE(recorder.warnings.empty());

  FakeDesktop desktop;
  FileCommands commands(&desktop);
  commands.RunCommandOnSelection("  sh -c \"x=$(cat %1)\"", kFiles);
  commands.RunCommandOnSelection("python3 -c \"print(open('%1').read())\"", kFiles);
  EXPECT_TRUE(desktop.calls.empty());
  ASSERT_EQ(2u, recorder.warnings.size());
  EXPECT_EQ(RunScriptRefusedMessage("sh -c \"x=$(cat %1)\""), recorder.warnings[0]);
}

TEST(StartProcess, ExactArgumentsNoShellInTheGivenFolder) {
  test::ScopedTestEnv env;
  std::string folder = env.Path("work");
  test::MakeFolder(folder);
  const std::string hostile[] = {"a \"b\";touch pwned", "$(touch pwned)", "line\nbreak",
                                 "\xff\xfe bytes", "-dash"};
  for (const std::string& name : hostile) {
    test::WriteTextFile(folder + "/" + name, name);
    int error = -1;
    ASSERT_TRUE(StartProcess({"cp", "--", name, name + ".copy"}, folder, true, &error)) << name;
    EXPECT_EQ(0, error);
    // Waited for: the copy is complete when the call returns.
    EXPECT_EQ(name, test::ReadWholeFile(folder + "/" + name + ".copy")) << name;
  }
  EXPECT_NE(0, access((folder + "/pwned").c_str(), F_OK));

  int error = 0;
  EXPECT_FALSE(StartProcess({"no-such-program-quindelo"}, "", true, &error));
  EXPECT_EQ(ENOENT, error);
  EXPECT_FALSE(StartProcess({"cp", "a", "b"}, folder + "/missing", true, &error));
  EXPECT_NE(0, error);
  EXPECT_FALSE(StartProcess({}, "", false, &error));
  EXPECT_TRUE(StartProcess({"true"}, "", false));  // left running, collected later

  // Error output captured, cut to its limit; what could not start says so.
  std::string output;
  int status = -1;
  ASSERT_TRUE(RunCapturingErrors({"sh", "-c", "echo 'lp: Error - No default destination.' >&2; "
                                  "echo out; exit 1"},
                                 folder, &output, &error, &status));
  EXPECT_EQ("lp: Error - No default destination.\n", output);
  EXPECT_EQ(1, status);
  ASSERT_TRUE(RunCapturingErrors({"sh", "-c", "head -c 100000 /dev/zero >&2"}, "", &output,
                                 &error, &status));
  EXPECT_EQ(kMaxErrorOutput, output.size());
  EXPECT_EQ(0, status);
  EXPECT_FALSE(RunCapturingErrors({"no-such-program-quindelo"}, "", &output, &error, &status));
  EXPECT_EQ(ENOENT, error);
}

}  // namespace
}  // namespace quindelo::commands
