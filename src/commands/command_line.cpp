#include "commands/command_line.h"

#include <algorithm>

#include "commands/script_arguments.h"

namespace quindelo::commands {
namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view SkipLeadingWhiteSpace(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && IsSeparator(text[at])) ++at;
  return text.substr(at);
}

// Replaces every "%1" of argument by path, never searching the inserted
// text again; sets *found when there was one.
std::string ReplaceFileCodes(std::string_view argument, std::string_view path, bool* found) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t code; (code = argument.find(kFileNameCode, at)) != std::string_view::npos;) {
    out.append(argument.substr(at, code - at));
    out.append(path);
    at = code + 2;
    *found = true;
  }
  out.append(argument.substr(at));
  return out;
}

}  // namespace

void SubstituteFileName(std::string* command, std::string_view path) {
  std::string inserted;
  if (path.find(' ') != std::string_view::npos && (path.empty() || path.front() != '"')) {
    inserted = "\"";
    inserted += path;
    inserted += '"';
  } else {
    inserted = path;
  }
  bool found = false;
  std::string out = ReplaceFileCodes(*command, inserted, &found);
  if (!found) {
    out += ' ';
    out += inserted;
  }
  *command = std::move(out);
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  std::size_t at = 0;
  while (at < line.size()) {
    char c = line[at];
    if (c == '\\') {
      std::size_t end = line.find_first_not_of('\\', at);
      if (end == std::string_view::npos) end = line.size();
      std::size_t count = end - at;
      in_argument = true;
      if (end < line.size() && line[end] == '"') {
        current.append(count / 2, '\\');
        if (count % 2 == 1) {
          current += '"';
          at = end + 1;
        } else {
          at = end;  // the quote starts or ends a run
        }
      } else {
        current.append(count, '\\');
        at = end;
      }
      continue;
    }
    ++at;
    if (c == '"') {
      quoted = !quoted;
      in_argument = true;
    } else if (!quoted && IsSeparator(c)) {
      if (in_argument) arguments.push_back(std::move(current));
      current.clear();
      in_argument = false;
    } else {
      current += c;
      in_argument = true;
    }
  }
  if (in_argument) arguments.push_back(std::move(current));
  return arguments;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\r\"") == std::string_view::npos)
    return std::string(argument);
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(2 * backslashes + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');  // so that the closing quote stays a quote
  out += '"';
  return out;
}

namespace {

// The arguments of a template with native_path put in; refused (false) when
// a "%1" stands in code that no quoting keeps the name out of.
bool PutFileIntoArguments(std::vector<std::string>* arguments, std::string_view native_path) {
  // A template without "%1" gets the file as one more argument, which may
  // be a script too (sh -c): it is put in like a "%1" there.
  if (std::none_of(arguments->begin(), arguments->end(), [](const std::string& argument) {
        return argument.find(kFileNameCode) != std::string::npos;
      }))
    arguments->emplace_back(kFileNameCode);
  const std::vector<ArgumentRole> roles = ArgumentRoles(*arguments);
  bool found = false;
  for (std::size_t i = 0; i < arguments->size(); ++i) {
    std::string& argument = (*arguments)[i];
    if (argument.find(kFileNameCode) == std::string::npos) continue;
    switch (roles[i]) {
      case ArgumentRole::kPlain:
        argument = ReplaceFileCodes(argument, native_path, &found);
        break;
      case ArgumentRole::kShellScript: {
        std::string script;
        if (!PutFileIntoShellScript(argument, kFileNameCode, native_path, &script)) return false;
        argument = std::move(script);
        found = true;
        break;
      }
      case ArgumentRole::kCode:
        return false;
    }
  }
  return found;
}

}  // namespace

std::vector<std::string> CommandArguments(std::string_view command_template,
                                          std::string_view native_path) {
  std::vector<std::string> arguments = SplitCommandLine(command_template);
  if (arguments.empty()) return arguments;
  if (!PutFileIntoArguments(&arguments, native_path)) return {};
  return arguments;
}

bool FileCodesTakeAnyName(std::string_view command_template) {
  std::vector<std::string> arguments = SplitCommandLine(command_template);
  return arguments.empty() || PutFileIntoArguments(&arguments, "/");
}

std::vector<CommandRun> PlanRunCommands(std::string_view text,
                                        const std::vector<std::string>& native_paths) {
  std::vector<CommandRun> runs;
  if (text.find(kFileNameCode) == std::string_view::npos) {
    CommandRun run;
    run.arguments = SplitCommandLine(text);
    if (run.arguments.empty()) return runs;
    run.command_line = SkipLeadingWhiteSpace(text);
    runs.push_back(std::move(run));
    return runs;
  }
  runs.reserve(native_paths.size());
  for (std::size_t i = 0; i < native_paths.size(); ++i) {
    CommandRun run;
    run.arguments = CommandArguments(text, native_paths[i]);
    if (run.arguments.empty()) return {};
    std::string shown(text);
    SubstituteFileName(&shown, native_paths[i]);
    run.command_line = SkipLeadingWhiteSpace(shown);
    run.wait = i + 1 < native_paths.size();
    runs.push_back(std::move(run));
  }
  return runs;
}

std::string RunDialogStartText(const std::vector<SelectedFile>& files) {
  if (files.empty()) return std::string();
  if (files.size() > 1) return kFileNameCode;
  const SelectedFile& file = files.front();
  const std::string& path = file.native_path.empty() ? file.path : file.native_path;
  // A name that holds the file code itself would be substituted into: the
  // code alone stands for the one selected file.
  if (path.find(kFileNameCode) != std::string::npos) return kFileNameCode;
  return QuoteArgument(path);
}

bool TemplateFromDesktopExec(std::string_view exec, std::string* command_template) {
  // First the quoting level of the Exec value.
  std::vector<std::string> raw;
  std::vector<bool> quoted;  // whether raw[i] held a quoted run
  std::string current;
  bool in_argument = false;
  bool in_quotes_once = false;
  std::size_t at = 0;
  while (at < exec.size()) {
    char c = exec[at++];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (in_argument) {
        raw.push_back(std::move(current));
        quoted.push_back(in_quotes_once);
      }
      current.clear();
      in_argument = false;
      in_quotes_once = false;
    } else if (c == '"') {
      in_argument = true;
      in_quotes_once = true;
      bool closed = false;
      while (at < exec.size()) {
        char q = exec[at++];
        if (q == '"') {
          closed = true;
          break;
        }
        if (q == '\\' && at < exec.size()) q = exec[at++];
        current += q;
      }
      if (!closed) return false;
    } else if (c == '\\' && at < exec.size()) {
      current += exec[at++];
      in_argument = true;
    } else {
      current += c;
      in_argument = true;
    }
  }
  if (in_argument) {
    raw.push_back(std::move(current));
    quoted.push_back(in_quotes_once);
  }
  // Then the field codes of each argument.
  std::vector<std::string> arguments;
  std::vector<bool> coded;  // whether arguments[i] held a field code
  for (std::size_t index = 0; index < raw.size(); ++index) {
    const std::string& argument = raw[index];
    std::string out;
    bool removed = false;
    std::vector<std::size_t> file_codes;  // where out holds a file code
    for (std::size_t i = 0; i < argument.size(); ++i) {
      if (argument[i] != '%') {
        out += argument[i];
        continue;
      }
      char code = i + 1 < argument.size() ? argument[++i] : '\0';
      if (code == '%') {
        out += '%';
      } else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
        file_codes.push_back(out.size());
        out += kFileNameCode;
      } else {
        removed = true;
      }
    }
    // Every "%1" the substitution will find must be a file code: "%%1" is
    // a percent sign and a digit, which the template cannot say.
    for (std::size_t at = 0; (at = out.find(kFileNameCode, at)) != std::string::npos; at += 2)
      if (std::find(file_codes.begin(), file_codes.end(), at) == file_codes.end()) return false;
    // Field codes inside a quoted run are not allowed, and a file name put
    // there with other text could be read as more than a name.
    if (!file_codes.empty() && out != kFileNameCode && quoted[index]) return false;
    if (out.empty() && removed) continue;
    arguments.push_back(std::move(out));
    coded.push_back(removed || !file_codes.empty());
  }
  if (arguments.empty() || arguments.front().empty()) return false;

  // The program, also the one behind a wrapper (env, nice, nohup, ...), is
  // never named by a field code: the file would choose what runs.
  // Checked with the file where it goes: a template without a file code
  // gets it appended.
  std::vector<std::string> placed = arguments;
  if (std::none_of(placed.begin(), placed.end(), [](const std::string& argument) {
        return argument.find(kFileNameCode) != std::string::npos;
      })) {
    placed.emplace_back(kFileNameCode);
    coded.push_back(true);
  }
  for (std::size_t index : ProgramIndexes(placed))
    if (coded[index]) return false;
  // A file name is never code for a shell or an interpreter (sh -c "cat
  // %f", env python3 -c ...), and with one of them anywhere in the command
  // a file code stands alone in its argument.
  const std::vector<ArgumentRole> roles = ArgumentRoles(placed);
  bool interpreter = false;
  for (const std::string& argument : placed) interpreter = interpreter || IsInterpreterName(argument);
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (placed[i].find(kFileNameCode) == std::string::npos) continue;
    if (roles[i] != ArgumentRole::kPlain) return false;
    if (interpreter && placed[i] != kFileNameCode) return false;
  }

  std::string result;
  for (const std::string& argument : arguments) {
    if (!result.empty()) result += ' ';
    result += QuoteArgument(argument);
  }
  *command_template = std::move(result);
  return true;
}

}  // namespace quindelo::commands
