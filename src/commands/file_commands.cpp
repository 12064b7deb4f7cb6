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

void Warn(const std::string& text) { ReportWarning("%s", text.c_str()); }

}  // namespace

FileCommands::FileCommands(DesktopServices* services) : services_(services) {}

void FileCommands::ActOnSelectedFiles(FileCommand command, const std::vector<SelectedFile>& files) {
  for (const SelectedFile& file : files) {
    const std::string& path = ProgramPath(file);
    switch (command) {
      case FileCommand::kOpen:
        if (!services_->OpenWithDefaultApplication(path, WorkingFolder(path)))
          Warn(OpenFailedMessage(kOpenVerb, file.path));
        break;
      case FileCommand::kPrint:
        if (!services_->Print(path, WorkingFolder(path)))
          Warn(OpenFailedMessage(kPrintVerb, file.path));
        break;
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
