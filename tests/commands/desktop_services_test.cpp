// The processes of "Open With" from a desktop entry's Exec value: one per
// file, or one for the whole list when the Exec takes %F or %U; and the
// print command's arguments.
#include "commands/desktop_services.h"

#include <gtest/gtest.h>

namespace quindelo::commands {
namespace {

using Processes = std::vector<std::vector<std::string>>;

TEST(DesktopServicesTest, OpenWithProcessesFromExec) {
  const std::vector<std::string> two = {"/d/a b.txt", "/d/it's \"q\";$x\n.txt"};
  const struct {
    const char* exec;
    std::vector<std::string> files;
    bool takes_list;
    Processes processes;
  } cases[] = {
      {"gedit %U", two, true, {{"gedit", two[0], two[1]}}},
      {"vim -p %F --end", two, true, {{"vim", "-p", two[0], two[1], "--end"}}},
      {"viewer %f", two, false, {{"viewer", two[0]}, {"viewer", two[1]}}},
      {"viewer --file=%u", two, false,
       {{"viewer", "--file=" + two[0]}, {"viewer", "--file=" + two[1]}}},
      {"player", two, false, {{"player", two[0]}, {"player", two[1]}}},  // no code: appended
      {"app %%F %f", {two[0]}, false, {{"app", "%F", two[0]}}},           // "%%" is a percent sign
      {"\"my app\" --name=%c %i %U", {two[0]}, true, {{"my app", "--name=", two[0]}}},
      {"viewer %f", {}, false, {}},  // no files, no process
      {"", two, false, {}},          // no program
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec);
    EXPECT_EQ(DesktopExecTakesFileList(c.exec), c.takes_list);
    EXPECT_EQ(OpenWithProcesses(c.exec, c.files), c.processes);
  }
  // A terminal program runs in the terminal emulator, the file codes intact.
  EXPECT_EQ(OpenWithProcesses(LaunchExec("vim %F", true), two),
            (Processes{{"x-terminal-emulator", "-e", "vim", two[0], two[1]}}));
  EXPECT_EQ(LaunchExec("vim %F", false), "vim %F");
  EXPECT_EQ(PrintArguments("-x.txt"), (std::vector<std::string>{"lp", "--", "-x.txt"}));
}

}  // namespace
}  // namespace quindelo::commands
