#include "commands/file_commands.h"

#include <algorithm>

#include "commands/command_line.h"
#include "commands/command_texts.h"
#include "base/message_report.h"

namespace quindelo::commands {
namespace {

// The path a program is given: the native one, or the drive path when the
// drive is gone (the program then reports the missing file itself).
const std::string& ProgramPath(const SelectedFile& file) {
  return file.native_path.empty() ? file.path : file.native_path;
}

}  // namespace

FileCommands::FileCommands(DesktopServices* services) : services_(services) {}

void FileCommands::Warn(const std::string& text) const {
  if (warn_)
    warn_(text);
  else
    ReportWarning("%s", text.c_str());
}

void FileCommands::ActOnSelectedFiles(FileCommand command, const std::vector<SelectedFile>& files) {
  for (const SelectedFile& file : files) {
    if (stopped_ && stopped_()) return;
    const std::string& path = ProgramPath(file);
    switch (command) {
      case FileCommand::kOpen:
        if (!services_->OpenWithDefaultApplication(path, WorkingFolder(path)))
          Warn(OpenFailedMessage(kOpenVerb, file.path));
        break;
      case FileCommand::kPrint: {
        std::string cause;
        if (!services_->Print(path, WorkingFolder(path), &cause))
          Warn(PrintFailedMessage(file.path, cause));
        break;
      }
      case FileCommand::kTextEdit: {
        if (text_editor_template_.empty()) {
          std::string exec;
          if (!services_->TextEditorExec(&exec) ||
              !TemplateFromDesktopExec(exec, &text_editor_template_))
            text_editor_template_.clear();
        }
        if (text_editor_template_.empty()) {
          Warn(kNoTextAssociationMessage);
          break;
        }
        if (!services_->StartProcess(CommandArguments(text_editor_template_, path), std::string(),
                                     false)) {
          std::string shown = text_editor_template_;
          SubstituteFileName(&shown, path);
          Warn(RunFailedMessage(shown));
        }
        break;
      }
    }
  }
}

bool FileCommands::OpenInBrowser(std::string_view address) {
  std::string exec;
  std::string command_template;
  if (!services_->BrowserExec(&exec) || exec.empty()) {
    Warn(kNoBrowserAssociationMessage);
    return false;
  }
  const std::string shown_address(address);
  std::vector<std::string> arguments;
  if (TemplateFromDesktopExec(exec, &command_template))
    arguments = CommandArguments(command_template, shown_address);
  else
    command_template = exec;
  if (arguments.empty() || !services_->StartProcess(arguments, std::string(), false)) {
    std::string shown = command_template;
    SubstituteFileName(&shown, shown_address);
    Warn(RunFailedMessage(shown.substr(std::min(shown.find_first_not_of(" \t"), shown.size()))));
    Warn(BrowserStartFailedMessage(shown_address));
    return false;
  }
  return true;
}

void FileCommands::RunCommandOnSelection(std::string_view text,
                                         const std::vector<SelectedFile>& files) {
  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const SelectedFile& file : files) paths.push_back(ProgramPath(file));
  if (!paths.empty() && !FileCodesTakeAnyName(text)) {
    Warn(RunScriptRefusedMessage(text.substr(std::min(text.find_first_not_of(" \t\r\n"), text.size()))));
    return;
  }
  std::vector<CommandRun> runs = PlanRunCommands(text, paths);
  if (runs.empty() && text.find(kFileNameCode) == std::string_view::npos) {
    // A text with no program in it cannot start (it is all white space).
    Warn(RunFailedMessage(std::string()));
    return;
  }
  for (const CommandRun& run : runs) {
    if (!services_->StartProcess(run.arguments, std::string(), run.wait)) {
      Warn(RunFailedMessage(run.command_line));
      return;
    }
  }
}

}  // namespace quindelo::commands
