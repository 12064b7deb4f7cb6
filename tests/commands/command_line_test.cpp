// Command lines for other programs: the "%1" substitution as messages show
// it, the splitting into process arguments (a file name, whatever it holds,
// stays one argument), the Run command's batch, the Text Edit template from
// a desktop entry, the working folder and the selection walk.
#include "commands/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/selection.h"
#include "support/test_env.h"

namespace quindelo::commands {
namespace {

using Args = std::vector<std::string>;

TEST(SubstituteFileName, QuotesBlanksReplacesEveryCodeOnceAndAppendsWithoutOne) {
  struct Case {
    const char* command;
    const char* path;
    const char* expected;
  } cases[] = {
      {"notepad %1", "D:\\My Files\\a b.txt", "notepad \"D:\\My Files\\a b.txt\""},
      {"notepad %1", "D:\\a.txt", "notepad D:\\a.txt"},
      {"notepad %1", "\"D:\\x y.txt\"", "notepad \"D:\\x y.txt\""},  // already quoted
      {"C:\\edit.exe", "D:\\a.txt", "C:\\edit.exe D:\\a.txt"},       // no "%1": appended
      {"cmp %1 %1.bak", "D:\\a", "cmp D:\\a D:\\a.bak"},              // twice
      {"view %1 end", "D:\\100%1.txt", "view D:\\100%1.txt end"},     // not replaced again
      {"", "D:\\a", " D:\\a"},
      {"%1%1", "x", "xx"},
  };
  for (const Case& c : cases) {
    std::string command = c.command;
    SubstituteFileName(&command, c.path);
    EXPECT_EQ(c.expected, command) << c.command << " / " << c.path;
  }
}

TEST(SplitCommandLine, QuotesGroupAndQuoteArgumentRoundTrips) {
  struct Case {
    const char* line;
    Args expected;
  } cases[] = {
      {"  lp  -d office\t%1 ", {"lp", "-d", "office", "%1"}},
      {"\"C:\\Program Files\\ed.exe\" \"%1\"", {"C:\\Program Files\\ed.exe", "%1"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x", {"", "x"}},
      {"say \\\"hi\\\"", {"say", "\"hi\""}},
      {"\"C:\\dir\\\\\" next", {"C:\\dir\\", "next"}},  // 2n backslashes, then a quote
      {"a\\\\b \\\\\\\"c", {"a\\\\b", "\\\"c"}},
      {"\"unterminated run", {"unterminated run"}},
      {"", {}},
      {" \n\t", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, SplitCommandLine(c.line)) << c.line;

  const char* hostile[] = {"plain", "", "a b", "say \"hi\"", "trailing\\", "both \\\" and \\",
                           "line\nbreak", "tab\there", "$(rm -rf ~); `x` 'y' & | > <",
                           "\xff\xfe not utf-8", "\\\\server\\share\\", "\"", "\\\"\\"};
  for (const char* argument : hostile) {
    std::string quoted = QuoteArgument(argument);
    EXPECT_EQ(Args{argument}, SplitCommandLine(quoted)) << quoted;
    EXPECT_EQ((Args{"prog", argument, "end"}), SplitCommandLine("prog " + quoted + " end"));
  }
}

TEST(CommandArguments, AFileNameStaysOneArgumentWhateverItHolds) {
  const std::string hostile[] = {
      "/home/ann/My Files/a b.txt", "/tmp/\"quoted\" name", "/tmp/a;rm -rf ~", "/tmp/$HOME$(id)`id`",
      "/tmp/line\nbreak", "/tmp/\xc3\x28 bad utf-8", "/tmp/%1 inside", "/tmp/back\\slash\\"};
  for (const std::string& path : hostile) {
    EXPECT_EQ((Args{"gedit", path}), CommandArguments("gedit %1", path)) << path;
    EXPECT_EQ((Args{"gedit", path}), CommandArguments("gedit \"%1\"", path)) << path;
    EXPECT_EQ((Args{"gedit", "--new", path}), CommandArguments("gedit --new", path)) << path;
    EXPECT_EQ((Args{"cp", path, path + ".bak"}), CommandArguments("cp %1 %1.bak", path)) << path;
    EXPECT_EQ((Args{"tool", "--file=" + path, "-x"}), CommandArguments("tool --file=%1 -x", path));
  }
  EXPECT_TRUE(CommandArguments("   ", "/a").empty());
}

TEST(PlanRunCommands, ABatchOfTenThousandAndTheDialogsStartText) {
  // A batch of 10,000 files: one process each, only the last not waited for.
  std::vector<std::string> many;
  for (int i = 0; i < 10000; ++i) many.push_back("/d/f" + std::to_string(i));
  std::vector<CommandRun> runs = PlanRunCommands("touch %1", many);
  ASSERT_EQ(10000u, runs.size());
  EXPECT_TRUE(runs[9998].wait);
  EXPECT_FALSE(runs[9999].wait);
  EXPECT_EQ((Args{"touch", "/d/f9999"}), runs[9999].arguments);

  std::vector<SelectedFile> files = {{"D:\\My Files\\a.txt", "/m/My Files/a.txt"}};
  EXPECT_EQ("\"/m/My Files/a.txt\"", RunDialogStartText(files));
  EXPECT_EQ((Args{"/m/My Files/a.txt"}), SplitCommandLine(RunDialogStartText(files)));
  files.push_back({"D:\\b", "/m/b"});
  EXPECT_EQ("%1", RunDialogStartText(files));
  // A name that holds "%1": OK on the starting text runs the file itself.
  for (const char* path : {"/m/100%1.txt", "/m/My %1 Files/%1%1"}) {
    runs = PlanRunCommands(RunDialogStartText({{"D:\\x", path}}), {path});
    ASSERT_EQ(1u, runs.size()) << path;
    EXPECT_EQ(Args{path}, runs[0].arguments);
  }
  EXPECT_EQ("", RunDialogStartText({}));
}

// A "%1" in the script of a shell gets the name quoted for the spot it
// stands in; where no quoting can keep it a name, nothing is run.
TEST(CommandArguments, AFileInAShellScriptIsOneQuotedWordOrRefused) {
  const std::string hostile = "/t/$(touch PWNED) it's \"q\"";
  const std::string single = "'/t/$(touch PWNED) it'\\''s \"q\"'";  // as one quoted word
  struct Case {
    const char* line;
    std::vector<std::string> expected;  // empty: refused
  } cases[] = {
      {"sh -c \"cat %1\"", {"sh", "-c", "cat " + single}},
      {"bash -c \"cat '%1'\"", {"bash", "-c", "cat '/t/$(touch PWNED) it'\\''s \"q\"'"}},
      {"dash -c \"cat \\\"%1\\\" | wc\"", {"dash", "-c", "cat \"\"" + single + "\"\" | wc"}},
      {"sh -ec \"gzip %1 && ls %1.gz\"", {"sh", "-ec", "gzip " + single + " && ls " + single + ".gz"}},
      {"/usr/bin/env LANG=C nice -n 5 nohup setsid -w /bin/bash -o pipefail -c \"cat %1\" x",
       {"/usr/bin/env", "LANG=C", "nice", "-n", "5", "nohup", "setsid", "-w", "/bin/bash", "-o",
        "pipefail", "-c", "cat " + single, "x"}},
      {"xterm -e sh -c \"less %1\"", {"xterm", "-e", "sh", "-c", "less " + single}},
      {"sh -c \"cat \\\"$1\\\"\" sh %1", {"sh", "-c", "cat \"$1\"", "sh", hostile}},  // data
      {"sh /opt/script.sh %1", {"sh", "/opt/script.sh", hostile}},
      {"sh -c", {"sh", "-c", single}},  // appended as the script: runs the file by name
      {"python3 -c", {}},
      // No quoting keeps a name out of these.
      {"sh -c \"x=$(cat %1)\"", {}},
      {"sh -c \"echo `cat %1`\"", {}},
      {"sh -c \"cat ${d}%1\"", {}},
      {"bash -c \"cat $'%1'\"", {}},
      {"sh -c \"cat $%1\"", {}},
      {"sh -c \"cat \\%1\"", {}},
      {"bash -c \"eval cat %1\"", {}},
      {"bash -c \"[[ -n %1 ]]\"", {}},
      {"bash -c \"a[%1]=1\"", {}},
      {"sh -c \"sh -c 'cat %1'\"", {}},
      {"sh -c \". %1\"", {}},
      {"sh -c \"cat <<E\n%1\nE\"", {}},
      {"sh -c \"true # %1\"", {}},
      {"fish -c \"cat %1\"", {}},
      {"python3 -c \"open('%1')\"", {}},
      {"perl -le \"print '%1'\"", {}},
      {"env -S \"cat %1\"", {}},
      {"su ann -c \"cat %1\"", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, CommandArguments(c.line, hostile)) << c.line;
    EXPECT_EQ(!c.expected.empty(), FileCodesTakeAnyName(c.line)) << c.line;
  }
}

TEST(TemplateFromDesktopExec, FileCodesBecomeTheFileAndOtherCodesGo) {
  struct Case {
    const char* exec;
    const char* expected;  // null: no template
  } cases[] = {
      {"gedit %U", "gedit %1"},
      {"mousepad %F", "mousepad %1"},
      {"kate -b %u", "kate -b %1"},
      {"xed %f --icon-less %i %c %k", "xed %1 --icon-less"},
      {"emacs --file=%f", "emacs --file=%1"},
      {"\"/opt/My Editor/edit\" --new-window %F", "\"/opt/My Editor/edit\" --new-window %1"},
      {"edit \"quote \\\" dollar \\$ back \\\\ tick \\`\" %f",
       "edit \"quote \\\" dollar $ back \\ tick `\" %1"},
      {"vi 100%% %d %D %n %N %v %m", "vi 100%"},
      {"nofile", "nofile"},
      {"%i %f", nullptr},  // the file would be the program
      {"\"\" %f", nullptr},               // empty program
      {"   ", nullptr},
      {"%c", nullptr},
      {"edit \"unterminated %f", nullptr},
      // A name that would become part of a script, never a whole argument.
      {"sh -c \"cat %f\"", nullptr},
      {"/bin/bash -c cat\\ %f", nullptr},
      {"edit \"--file=%f\"", nullptr},
      {"env EDITOR=vi x%f", nullptr},
      {"edit \"%f\"", "edit %1"},
      {"sh /usr/bin/viewer %f", "sh /usr/bin/viewer %1"},
      // "%%1" is a percent sign and a 1, never a file code.
      {"app --x=%%1 %f", nullptr},
      {"app 100%%%f", "app 100%%1"},
      // A field code in the program name, also behind a wrapper.
      {"/usr/bin/%f", nullptr},
      {"%c-viewer %f", nullptr},
      {"env LANG=C %f", nullptr},
      {"nice -n 5 x%f", nullptr},
      {"timeout -s KILL 5 %u", nullptr},
      {"sudo -u ann -- %f", nullptr},
      // The file as code of a shell or interpreter behind a wrapper.
      {"nohup bash -c %f", nullptr},
      {"setsid sh -c cat\\ %f", nullptr},
      {"exec -a name dash -ec %f", nullptr},
      {"env python3 -c %f", nullptr},
      {"/usr/bin/env -S %f", nullptr},
      {"nice perl -e %f", nullptr},
      {"x-terminal-emulator -e bash -c %f", nullptr},
      {"bash -c", nullptr},  // the file appended would be the script
      {"nohup nice", nullptr},  // or the program
      // Wrappers that run a program on the file as data.
      {"env LANG=C nice -n 5 gedit %F", "env LANG=C nice -n 5 gedit %1"},
      {"x-terminal-emulator -e vim %f", "x-terminal-emulator -e vim %1"},
      {"sh -c \"exec viewer \\\"\\$1\\\"\" sh %f", "sh -c \"exec viewer \\\"$1\\\"\" sh %1"},
  };
  for (const Case& c : cases) {
    std::string result = "unchanged";
    bool made = TemplateFromDesktopExec(c.exec, &result);
    if (c.expected == nullptr) {
      EXPECT_FALSE(made) << c.exec;
      EXPECT_EQ("unchanged", result);
    } else {
      EXPECT_TRUE(made) << c.exec;
      EXPECT_EQ(c.expected, result) << c.exec;
    }
  }
  // The template then takes any file name as one argument.
  std::string text_edit;
  ASSERT_TRUE(TemplateFromDesktopExec("\"/opt/My Editor/edit\" -w %f", &text_edit));
  EXPECT_EQ((Args{"/opt/My Editor/edit", "-w", "/t/a \"b\";$c"}),
            CommandArguments(text_edit, "/t/a \"b\";$c"));
}

TEST(WorkingFolder, TheFolderThatHoldsTheFileBlanksIncluded) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/media/d/Docs/a.txt", "/media/d/Docs"},
      {"/a.txt", "/"},
      {"/media/d/My Files/a b.txt", "/media/d/My Files"},
      {"\"/x y/z.doc\"", "/x y"},
      {"\"/x y/z.doc", "/x y"},
      {"name.txt", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, WorkingFolder(c.path)) << c.path;
}

// A results list whose selected rows are given in the test.
class FakeSelection : public RowSelection {
 public:
  std::vector<FoundFile*> rows;
  std::vector<bool> selected;

  int NextSelectedRow(int after) const override {
    for (int row = after + 1; row < static_cast<int>(rows.size()); ++row)
      if (selected[row]) return row;
    return -1;
  }
  const FoundFile* RowRecord(int row) const override { return rows[row]; }
};

TEST(SelectionWalk, ListOrderDrivePathsCutAndNativePathsWhole) {
  test::ScopedTestEnv env;
  std::string drive = env.MakeDrive('D', "drive d");
  ResultsPool pool;
  CurrentFolder current;
  FakeSelection selection;
  std::string long_name(300, 'n');
  const char* paths[] = {"D:\\a.txt", "D:\\My Files\\b c.txt", "Q:\\gone.txt", "D:\\skip.txt"};
  for (const char* path : paths) selection.rows.push_back(pool.AddFoundFile(path, &current));
  selection.rows.push_back(pool.AddFoundFile("D:\\deep\\" + long_name, &current));
  selection.rows.push_back(nullptr);  // a row that cannot be read
  selection.selected = {true, true, true, false, true, true};

  std::vector<SelectedFile> files = CollectSelectedFiles(selection);
  ASSERT_EQ(4u, files.size());
  EXPECT_EQ("D:\\a.txt", files[0].path);
  EXPECT_EQ(drive + "/a.txt", files[0].native_path);
  EXPECT_EQ(drive + "/My Files/b c.txt", files[1].native_path);
  EXPECT_EQ("Q:\\gone.txt", files[2].path);
  EXPECT_EQ("", files[2].native_path);  // not a drive
  EXPECT_EQ(259u, files[3].path.size());
  EXPECT_EQ(drive + "/deep/" + long_name, files[3].native_path);

  int row = -1;
  std::string path;
  std::vector<std::string> walked;
  while (NextSelectedPath(selection, &row, &path)) walked.push_back(path);
  EXPECT_EQ((std::vector<std::string>{"D:\\a.txt", "D:\\My Files\\b c.txt", "Q:\\gone.txt",
                                      files[3].path}),
            walked);

  // 10,000 selected rows.
  FakeSelection many;
  for (int i = 0; i < 10000; ++i) {
    many.rows.push_back(pool.AddFoundFile("D:\\many\\f" + std::to_string(i), &current));
    many.selected.push_back(true);
  }
  files = CollectSelectedFiles(many);
  ASSERT_EQ(10000u, files.size());
  EXPECT_EQ(drive + "/many/f9999", files.back().native_path);
}

}  // namespace
}  // namespace quindelo::commands
