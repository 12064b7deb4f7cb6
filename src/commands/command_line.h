// Command lines for other programs: the "%1" substitution of a file name, the
// splitting of a command line into the arguments of a process, and the
// command template that a desktop entry's Exec value gives.
//
// A command line is never handed to a shell. It is split into arguments
// first, and a file name is put into each argument afterwards, so whatever
// bytes the name holds (blanks, quotes, semicolons, dollar signs, newlines)
// it stays inside its one argument. Where the command itself hands an
// argument to a shell as script (sh -c "..."), the name is quoted for that
// shell, or the command is refused (script_arguments.h).
//
// Command-line syntax (the way Windows command lines are written, so that a
// command typed for the Run dialog reads the same): blanks, tabs and line
// breaks separate arguments; a double quote starts or ends a quoted run, in
// which blanks belong to the argument; backslashes are plain characters
// except before a double quote, where 2n backslashes give n backslashes and
// leave the quote to start or end a run, and 2n+1 backslashes give n
// backslashes and a literal quote. QuoteArgument writes an argument back in
// this syntax.
//
// Everything here is pure string work: thread-safe, no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "commands/selection.h"

namespace quindelo::commands {

// The placeholder of a file name in a command template.
inline constexpr char kFileNameCode[] = "%1";

// Puts path into command as a command line's text: the inserted name is the
// path between double quotes when it holds a blank and does not already
// begin with a double quote, else the path itself; every "%1" of the command,
// from left to right, is replaced by it (the search goes on after the
// inserted name, so a "%1" inside the name is not replaced again); a command
// without "%1" gets a blank and the inserted name appended. This is the text
// that messages show; processes are started from CommandArguments.
void SubstituteFileName(std::string* command, std::string_view path);

// The arguments of a command line, in the syntax above. An unterminated
// quoted run ends at the end of the text.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// One argument written so that SplitCommandLine gives it back unchanged:
// as it is when it holds no blank, tab, line break or double quote and is
// not empty, else between double quotes with the quotes and the backslashes
// before them escaped.
std::string QuoteArgument(std::string_view argument);

// The arguments of a command template for one file: the template is split,
// then every "%1" inside each argument is replaced by native_path (the
// inserted text is not searched again); when no argument holds "%1",
// native_path is appended as one more argument. A "%1" in the script of a
// shell (sh -c "cat %1", also behind env, nice, sudo, ...) gets the path
// quoted for that shell as one word (PutFileIntoShellScript). Empty when
// the template holds no argument (nothing can be run), and when a "%1"
// stands in code the name cannot be kept out of (FileCodesTakeAnyName).
std::vector<std::string> CommandArguments(std::string_view command_template,
                                          std::string_view native_path);

// False when some "%1" of the template stands where a file name would be
// read as code whatever the quoting: a shell script spot that
// PutFileIntoShellScript refuses, or code for another interpreter
// (python3 -c, perl -e, su -c, env -S, ...). True for a template without
// "%1".
bool FileCodesTakeAnyName(std::string_view command_template);

// One process to start for the Run command.
struct CommandRun {
  std::vector<std::string> arguments;  // program first; never empty
  // The command as the failure message shows it: the text with the file
  // substituted by SubstituteFileName, leading white space skipped.
  std::string command_line;
  bool wait = false;  // wait for the process to end before the next one
};

// The processes that the Run dialog's text starts for the selected files'
// native paths: with "%1" in the text, one per file in list order, each
// waited for but the last; without it, the text once, not waited for (also
// when nothing is selected). A text that holds no program, or one with "%1"
// and no file, starts nothing; so does a text whose "%1" stands where a name
// would be read as code (FileCodesTakeAnyName false: the caller shows
// RunScriptRefusedMessage). The caller stops the batch at the first
// process that fails to start and shows RunFailedMessage(command_line).
std::vector<CommandRun> PlanRunCommands(std::string_view text,
                                        const std::vector<std::string>& native_paths);

// The Run dialog's starting text: the one selected file's native path
// (through QuoteArgument, so that a name with blanks stays one argument),
// "%1" when more than one file is selected or when the one selected path
// itself holds "%1" (which the Run command would replace), empty when none
// is.
std::string RunDialogStartText(const std::vector<SelectedFile>& files);

// The command template of a desktop entry's Exec value (after the key
// file's string escapes are undone, as GIO's command line of an application
// gives it): the value is split by the desktop entry rules (blank-separated
// arguments, double-quoted arguments with \" \` \$ \\ escapes), the file
// codes %f %F %u %U stand for "%1", "%%" is a percent sign, every other
// field code is removed and an argument that held nothing but removed codes
// is dropped; the arguments are then written back with QuoteArgument. False
// when the value names no program; when a field code names the program,
// also the one a wrapper runs (env %f, nice x%f); when "%%" would leave a
// "%1" that is no file code ("%%1"); and when a file code could be read as
// more than a name: beside other text inside a quoted run, as or inside
// the code of a shell or interpreter (sh -c "cat %f", nohup bash -c %f,
// env python3 -c ...), or beside other text in any argument of a command
// that names a shell or interpreter.
bool TemplateFromDesktopExec(std::string_view exec, std::string* command_template);

}  // namespace quindelo::commands
