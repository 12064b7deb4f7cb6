// Command lines: splitting, quoting, the "%1" substitution (also into shell
// scripts), the Run dialog's starting text and desktop entries' Exec
// values. Besides never crashing: an argument quoted by QuoteArgument
// splits back to itself; refusing a command line depends on the command
// line alone, never on the file name; a template made from a desktop entry
// is never refused and never lets the file name the program; the starting
// text of one selected file runs that file whatever its name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_line.h"
#include "commands/script_arguments.h"
#include "fuzz_support.h"

using quindelo::commands::ArgumentRole;

// Input: the command line, then after the first NUL the file name.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace commands = quindelo::commands;
  namespace fuzz = quindelo::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view line = input.substr(0, nul);
  const std::string path =
      nul == std::string_view::npos ? std::string("/t/$(x) 'q'") : std::string(input.substr(nul + 1));
  if (path.find('\0') != std::string::npos) return 0;  // no file name holds a NUL

  const std::vector<std::string> split = commands::SplitCommandLine(line);
  for (const std::string& argument : split)
    if (commands::SplitCommandLine(commands::QuoteArgument(argument)) !=
        std::vector<std::string>{argument})
      fuzz::Fail("QuoteArgument does not split back");

  const std::vector<std::string> arguments = commands::CommandArguments(line, path);
  const bool takes = commands::FileCodesTakeAnyName(line);
  if (!split.empty() && arguments.empty() != !takes) fuzz::Fail("refusal differs from the check");
  if (!split.empty() && commands::CommandArguments(line, "/other").empty() != arguments.empty())
    fuzz::Fail("refusal depends on the file name");
  // Without "%1" the file is one more argument (quoted when it lands as a
  // shell's script), the others as split.
  const bool coded = std::any_of(split.begin(), split.end(), [](const std::string& argument) {
    return argument.find(commands::kFileNameCode) != std::string::npos;
  });
  if (!coded && !arguments.empty() &&
      (arguments.size() != split.size() + 1 ||
       !std::equal(split.begin(), split.end(), arguments.begin())))
    fuzz::Fail("a line without %1 does not get the file appended");
  for (const std::string& argument : split)
    if (commands::ShellScriptTakesFile(argument, commands::kFileNameCode) !=
        commands::PutFileIntoShellScript(argument, commands::kFileNameCode, path, nullptr))
      fuzz::Fail("the script check differs from the substitution");
  std::string shown(line);
  commands::SubstituteFileName(&shown, path);
  (void)commands::PlanRunCommands(line, {path, "/second"});

  if (!path.empty()) {
    const std::vector<commands::CommandRun> runs =
        commands::PlanRunCommands(commands::RunDialogStartText({{"D:\\x", path}}), {path});
    if (path.find_first_not_of(" \t\r\n") != std::string::npos &&
        (runs.size() != 1 || runs[0].arguments != std::vector<std::string>{path}))
      fuzz::Fail("the starting text does not run the selected file");
  }

  std::string command_template;
  if (commands::TemplateFromDesktopExec(line, &command_template)) {
    if (!commands::FileCodesTakeAnyName(command_template))
      fuzz::Fail("a desktop entry's template is refused");
    const std::string marker = "/\x01" "file\x01";
    if (command_template.find(marker) == std::string::npos &&
        line.find("\x01") == std::string_view::npos) {
      const std::vector<std::string> run = commands::CommandArguments(command_template, marker);
      if (run.empty()) fuzz::Fail("a desktop entry's template runs nothing");
      for (std::size_t index : commands::ProgramIndexes(run))
        if (run[index].find(marker) != std::string::npos)
          fuzz::Fail("the file names the program of a desktop entry");
      const std::vector<ArgumentRole> roles = commands::ArgumentRoles(run);
      for (std::size_t i = 0; i < run.size(); ++i)
        if (roles[i] != ArgumentRole::kPlain && run[i].find(marker) != std::string::npos)
          fuzz::Fail("the file is code in a desktop entry's command");
    }
  }
  return 0;
}
