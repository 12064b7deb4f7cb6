// The desktop's services for the commands on found files: opening a file
// with the default application of its type, printing through CUPS's lp,
// the plain-text application, and starting the applications the desktop
// lists for a type ("Open With"). Every program is started from its
// arguments (StartProcess), never through a shell.
//
// Thread-safety: SystemDesktopServices holds no state; its calls may run on
// any thread. Print waits for lp, so callers that must stay responsive call
// it off the window thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "commands/file_commands.h"

namespace quindelo::commands {

// The program CUPS prints files with, and its arguments for one file.
inline constexpr char kPrintProgram[] = "lp";
std::vector<std::string> PrintArguments(const std::string& native_path);

// The Exec value a desktop entry is started with: its own, or for a program
// that runs in a terminal, the desktop's terminal emulator running it
// ("x-terminal-emulator -e ...", the Debian alternative every terminal
// emulator package provides).
inline constexpr char kTerminalPrefix[] = "x-terminal-emulator -e ";
std::string LaunchExec(const std::string& exec, bool terminal);

// True when a desktop entry's Exec value takes every file in one process
// (its file code is %F or %U); false for %f, %u or no file code.
bool DesktopExecTakesFileList(std::string_view exec);

// The processes that start the application of a desktop entry's Exec value
// on the files: one per file, or one for all of them when the Exec takes a
// list (the argument that holds only its file code becomes one argument per
// file). Each process is its arguments, program first. Empty when the Exec
// names no program or there are no files.
std::vector<std::vector<std::string>> OpenWithProcesses(
    std::string_view exec, const std::vector<std::string>& native_paths);

class SystemDesktopServices : public DesktopServices {
 public:
  // Open: the default application of the file's MIME type (by name and
  // content), its Exec value as the command template, started in
  // working_folder. False when the type has no default application or the
  // application could not be started.
  bool OpenWithDefaultApplication(const std::string& native_path,
                                  const std::string& working_folder) override;
  // `lp -- <path>`, waited for: false when lp could not be started or
  // exited with a status other than 0; the cause is lp's error output, or
  // why it could not be started, or its exit status when it said nothing.
  bool Print(const std::string& native_path, const std::string& working_folder,
             std::string* cause) override;
  // The Exec value of the default application of text/plain.
  bool TextEditorExec(std::string* exec) override;
  // The default application of text/html (the type of ".html" and ".htm"
  // pages), else the desktop's handler of https links; in either case one
  // that names the type itself (a text editor, which the desktop offers for
  // HTML as plain text, is no browser).
  bool BrowserExec(std::string* exec) override;
  bool StartProcess(const std::vector<std::string>& arguments, const std::string& working_folder,
                    bool wait) override;
};

}  // namespace quindelo::commands
