#include "commands/desktop_services.h"

#include <system_error>

#include "commands/command_line.h"
#include "commands/process_start.h"
#include "platform/desktop_apps.h"

namespace quindelo::commands {

std::vector<std::string> PrintArguments(const std::string& native_path) {
  return {kPrintProgram, "--", native_path};
}

std::string LaunchExec(const std::string& exec, bool terminal) {
  return terminal && !exec.empty() ? kTerminalPrefix + exec : exec;
}

bool DesktopExecTakesFileList(std::string_view exec) {
  for (std::size_t i = 0; i + 1 < exec.size(); ++i) {
    if (exec[i] != '%') continue;
    const char code = exec[i + 1];
    if (code == 'F' || code == 'U') return true;
    ++i;  // "%%" and the other codes are skipped whole
  }
  return false;
}

std::vector<std::vector<std::string>> OpenWithProcesses(
    std::string_view exec, const std::vector<std::string>& native_paths) {
  std::vector<std::vector<std::string>> processes;
  std::string command_template;
  if (native_paths.empty() || !TemplateFromDesktopExec(exec, &command_template)) return processes;
  if (!DesktopExecTakesFileList(exec)) {
    for (const std::string& path : native_paths) {
      std::vector<std::string> arguments = CommandArguments(command_template, path);
      if (!arguments.empty()) processes.push_back(std::move(arguments));
    }
    return processes;
  }
  std::vector<std::string> arguments;
  bool listed = false;
  for (std::string& argument : SplitCommandLine(command_template)) {
    if (argument == kFileNameCode && !listed) {
      arguments.insert(arguments.end(), native_paths.begin(), native_paths.end());
      listed = true;
    } else {
      arguments.push_back(std::move(argument));
    }
  }
  if (!listed) arguments.insert(arguments.end(), native_paths.begin(), native_paths.end());
  if (!arguments.empty() && !arguments.front().empty()) processes.push_back(std::move(arguments));
  return processes;
}

bool SystemDesktopServices::OpenWithDefaultApplication(const std::string& native_path,
                                                       const std::string& working_folder) {
  platform::DesktopApp app;
  if (!platform::DefaultApplication(platform::FileMimeType(native_path), &app)) return false;
  std::string command_template;
  if (!TemplateFromDesktopExec(LaunchExec(app.exec, app.terminal), &command_template))
    return false;
  const std::vector<std::string> arguments = CommandArguments(command_template, native_path);
  return !arguments.empty() && commands::StartProcess(arguments, working_folder, false);
}

bool SystemDesktopServices::Print(const std::string& native_path,
                                  const std::string& working_folder, std::string* cause) {
  int error = 0;
  int exit_status = -1;
  if (!RunCapturingErrors(PrintArguments(native_path), working_folder, cause, &error,
                          &exit_status)) {
    *cause = std::string(kPrintProgram) + ": " + std::generic_category().message(error);
    return false;
  }
  if (exit_status == 0) return true;
  if (cause->find_first_not_of(" \t\r\n") == std::string::npos)
    *cause = std::string(kPrintProgram) + " ended with exit status " +
             std::to_string(exit_status) + ".";
  return false;
}

bool SystemDesktopServices::TextEditorExec(std::string* exec) {
  platform::DesktopApp app;
  if (!platform::DefaultApplication("text/plain", &app) || app.exec.empty()) return false;
  *exec = LaunchExec(app.exec, app.terminal);
  return true;
}

bool SystemDesktopServices::BrowserExec(std::string* exec) {
  platform::DesktopApp app;
  for (const char* type : {"text/html", "x-scheme-handler/https"}) {
    if (platform::DefaultApplicationNamingType(type, &app) && !app.exec.empty()) {
      *exec = LaunchExec(app.exec, app.terminal);
      return true;
    }
  }
  return false;
}

bool SystemDesktopServices::StartProcess(const std::vector<std::string>& arguments,
                                         const std::string& working_folder, bool wait) {
  return commands::StartProcess(arguments, working_folder, wait);
}

}  // namespace quindelo::commands
