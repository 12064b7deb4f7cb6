// Open, Print, Text Edit and Run over the selected files: the order, the
// working folders, the command templates and the failure messages, with the
// desktop's own services behind DesktopServices (the window side implements
// it with GIO and CUPS's lp; tests with a fake).
//
// Every failure is shown through ReportWarning (a warning box captioned
// "Pemblet Quindelo") and never stops the program: Open, Print and Text Edit
// go on with the next file; a Run batch ends at the first command that
// could not be started.
//
// Thread-safety: a FileCommands object belongs to one thread (the window
// thread in the program).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/selection.h"

namespace quindelo::commands {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  // Opens the file with the default application of its type, started in
  // working_folder (none when empty). False when that failed.
  virtual bool OpenWithDefaultApplication(const std::string& native_path,
                                          const std::string& working_folder) = 0;
  // Hands the file to the default printer. False when that failed, with
  // *cause set to what the printing program said about it (its error
  // output, or how it ended when it said nothing), one or more lines.
  virtual bool Print(const std::string& native_path, const std::string& working_folder,
                     std::string* cause) = 0;
  // The Exec value (string escapes undone) of the default application for
  // plain text. False when there is none.
  virtual bool TextEditorExec(std::string* exec) = 0;
  // The Exec value (string escapes undone) of the desktop's web browser: the
  // default application of HTML pages. False when there is none.
  virtual bool BrowserExec(std::string* exec) = 0;
  // Starts a process from its arguments, never through a shell; with wait,
  // returns once it has ended. False when it could not be started. The
  // program's implementation is StartProcess (process_start.h).
  virtual bool StartProcess(const std::vector<std::string>& arguments,
                            const std::string& working_folder, bool wait) = 0;
};

enum class FileCommand { kOpen, kPrint, kTextEdit };

class FileCommands {
 public:
  // services is not owned and must outlive this object.
  explicit FileCommands(DesktopServices* services);

  // Where the failures go: ReportWarning unless replaced. A handler may be
  // called on the thread that runs the command and must not wait for the
  // user when that thread is not the window's.
  void set_warning_handler(std::function<void(const std::string& text)> warn) {
    warn_ = std::move(warn);
  }
  // Asked before each file of ActOnSelectedFiles: true ends the walk there
  // (the user stopped it). Never stops unless set.
  void set_stop_check(std::function<bool()> stopped) { stopped_ = std::move(stopped); }

  // Open, Print or Text Edit for each file in order. Open and Print start in
  // the file's own folder; a failed Print names its file and, on a line of
  // its own, the printing program's cause; Text Edit starts the plain-text application's
  // command line with the file put in (looked up the first time it is
  // needed and kept for the life of this object; a failed lookup shows "No
  // association for text files." for that file and is tried again for the
  // next).
  void ActOnSelectedFiles(FileCommand command, const std::vector<SelectedFile>& files);

  // The Run dialog's text, run over the files as PlanRunCommands says; a
  // text whose "%1" would put a name into code runs nothing and shows
  // RunScriptRefusedMessage.
  void RunCommandOnSelection(std::string_view text, const std::vector<SelectedFile>& files);

  // Starts the desktop's web browser on address (a URL), without waiting and
  // without a working folder. Without a browser: "No association for HTML
  // files.  Do you have an web browser installed?". When it cannot be
  // started: RunFailedMessage with its command line, then "Unable to start
  // your web browser.  Please visit "<address>" with your browser.". True
  // when the browser was started.
  bool OpenInBrowser(std::string_view address);

  // The Text Edit template, empty until a lookup succeeded.
  const std::string& text_editor_template() const { return text_editor_template_; }

 private:
  void Warn(const std::string& text) const;

  DesktopServices* services_;
  std::string text_editor_template_;
  std::function<void(const std::string&)> warn_;
  std::function<bool()> stopped_;
};

}  // namespace quindelo::commands
