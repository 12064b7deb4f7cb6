#include "commands/script_arguments.h"

#include <algorithm>
#include <initializer_list>
#include <span>

namespace quindelo::commands {
namespace {

std::string_view BaseName(std::string_view argument) {
  const std::size_t slash = argument.rfind('/');
  if (slash != std::string_view::npos) argument.remove_prefix(slash + 1);
  return argument;
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Whether name is base followed by nothing or by a version ("python3.11").
bool IsVersioned(std::string_view name, std::string_view base) {
  if (name.substr(0, base.size()) != base) return false;
  return name.substr(base.size()).find_first_not_of("0123456789.") == std::string_view::npos;
}

bool IsPosixShell(std::string_view name) {
  return OneOf(name, {"sh", "bash", "rbash", "dash", "ash", "zsh", "ksh", "ksh93", "mksh", "lksh",
                      "pdksh", "oksh", "yash", "posh"});
}

bool IsOtherShell(std::string_view name) {
  return OneOf(name, {"csh", "tcsh", "fish", "rc", "es", "xonsh", "nu", "elvish", "pwsh"});
}

// The options of a script interpreter whose value is code.
std::span<const std::string_view> CodeOptions(std::string_view name) {
  static constexpr std::string_view kPython[] = {"-c"};
  static constexpr std::string_view kPerl[] = {"-e", "-E"};
  static constexpr std::string_view kOne[] = {"-e"};
  static constexpr std::string_view kNode[] = {"-e", "-p", "--eval", "--print"};
  static constexpr std::string_view kPhp[] = {"-r"};
  if (IsVersioned(name, "python") || IsVersioned(name, "pypy")) return kPython;
  if (IsVersioned(name, "perl")) return kPerl;
  if (IsVersioned(name, "ruby") || IsVersioned(name, "lua") || IsVersioned(name, "luajit") ||
      IsVersioned(name, "tclsh"))
    return kOne;
  if (name == "node" || name == "nodejs" || name == "deno" || name == "bun") return kNode;
  if (IsVersioned(name, "php")) return kPhp;
  return {};
}

bool IsScriptInterpreter(std::string_view name) { return !CodeOptions(name).empty(); }

// How a wrapper program reads its options and which argument it runs.
struct Wrapper {
  std::string_view name;
  std::string_view valued_letters;  // short options that take a value
  std::string_view valued_long;  // long options that take a value, each followed by a blank
  int operands = 0;          // operands before the program (timeout's duration)
  bool assignments = false;  // NAME=VALUE arguments before the program
  std::string_view program_option;  // the program follows this option (xterm -e)
};

const Wrapper* FindWrapper(std::string_view name) {
  static const Wrapper kWrappers[] = {
      {"env", "uCS", "--unset --chdir --split-string ", 0, true, {}},
      {"nice", "n", "--adjustment ", 0, false, {}},
      {"nohup", "", "", 0, false, {}},
      {"setsid", "", "", 0, false, {}},
      {"exec", "a", {}, 0, false, {}},
      {"ionice", "cnp", "--class --classdata --pid ", 0, false, {}},
      {"timeout", "ks", "--kill-after --signal ", 1, false, {}},
      {"stdbuf", "ioe", "--input --output --error ", 0, false, {}},
      {"sudo", "ugCDhprtTU",
       "--user --group --close-from --chdir --host --prompt --role --type --command-timeout "
       "--other-user ",
       0, true, {}},
      {"doas", "uC", {}, 0, false, {}},
      {"chrt", "", "", 1, false, {}},
      {"taskset", "", "", 1, false, {}},
      {"time", "fo", "--format --output ", 0, false, {}},
      {"nocache", "", "", 0, false, {}},
      {"chronic", "", "", 0, false, {}},
      {"busybox", "", "", 0, false, {}},
      {"unbuffer", "", "", 0, false, {}},
      {"flock", "wEc", "--timeout --conflict-exit-code --command ", 1, false, {}},
      {"x-terminal-emulator", "", "", 0, false, "-e"},
      {"xterm", "", "", 0, false, "-e"},
      {"uxterm", "", "", 0, false, "-e"},
  };
  for (const Wrapper& wrapper : kWrappers)
    if (wrapper.name == name) return &wrapper;
  return nullptr;
}

// The index of the program a wrapper at index runs; arguments.size() when
// there is none.
std::size_t WrappedProgram(const Wrapper& wrapper, const std::vector<std::string>& arguments,
                           std::size_t index) {
  const std::size_t n = arguments.size();
  std::size_t j = index + 1;
  if (!wrapper.program_option.empty()) {
    while (j < n && arguments[j] != wrapper.program_option) ++j;
    return j < n ? j + 1 : n;
  }
  int operands = wrapper.operands;
  while (j < n) {
    const std::string& a = arguments[j];
    if (a == "--") {
      ++j;
      break;
    }
    if (a.size() > 1 && a[0] == '-') {
      ++j;
      if (a[1] == '-') {
        if (a.find('=') == std::string::npos &&
            wrapper.valued_long.find(a + ' ') != std::string_view::npos)
          ++j;
        continue;
      }
      for (std::size_t k = 1; k < a.size(); ++k) {
        if (wrapper.valued_letters.find(a[k]) != std::string_view::npos) {
          if (k + 1 == a.size()) ++j;  // the value is the next argument
          break;                       // else the rest of this one
        }
      }
      continue;
    }
    if (wrapper.assignments && a.find('=') != std::string::npos && a.front() != '=') {
      ++j;
      continue;
    }
    if (operands > 0) {
      --operands;
      ++j;
      continue;
    }
    break;
  }
  while (j < n && operands > 0) {
    --operands;
    ++j;
  }
  return j;
}

// Marks the code argument of a shell at index: the first operand after its
// options when one of them is -c.
void MarkShellScript(const std::vector<std::string>& arguments, std::size_t index,
                     ArgumentRole role, std::vector<ArgumentRole>* roles) {
  const std::size_t n = arguments.size();
  bool command = false;
  std::size_t j = index + 1;
  while (j < n) {
    const std::string& a = arguments[j];
    if (a == "--" || a == "-") {
      ++j;
      break;
    }
    if (a.size() < 2 || (a[0] != '-' && a[0] != '+')) break;
    ++j;
    if (a[0] == '-' && a[1] == '-') {
      if (a == "--command" || a == "--init-command") command = true;
      if (a.rfind("--command=", 0) == 0 || a.rfind("--init-command=", 0) == 0)
        (*roles)[j - 1] = ArgumentRole::kCode;
      if (a == "--rcfile" || a == "--init-file") ++j;
      continue;
    }
    for (std::size_t k = 1; k < a.size(); ++k) {
      if (a[k] == 'c' || a[k] == 'C') command = true;
      if (a[k] == 'o' || a[k] == 'O') ++j;  // -o option: the next argument
    }
  }
  if (command && j < n) (*roles)[j] = role;
}

void MarkInterpreterCode(const std::vector<std::string>& arguments, std::size_t index,
                         std::vector<ArgumentRole>* roles) {
  const std::span<const std::string_view> options = CodeOptions(BaseName(arguments[index]));
  for (std::size_t j = index + 1; j < arguments.size(); ++j) {
    const std::string& a = arguments[j];
    if (a.size() < 2 || a[0] != '-') break;  // the script file: its arguments are data
    if (a == "--") break;
    for (std::string_view option : options) {
      if (a == option) {
        if (j + 1 < arguments.size()) (*roles)[j + 1] = ArgumentRole::kCode;
      } else if (option.size() == 2 ? (a[1] != '-' && a.find(option[1]) != std::string::npos)
                                    : a.rfind(std::string(option) + "=", 0) == 0) {
        // A cluster (-Ic, -le) or an attached value (-eprint 1, --eval=x).
        const std::size_t at = a.find(option[1]);
        if (option.size() == 2 && at + 1 == a.size()) {
          if (j + 1 < arguments.size()) (*roles)[j + 1] = ArgumentRole::kCode;
        } else {
          (*roles)[j] = ArgumentRole::kCode;
        }
      }
    }
  }
}

}  // namespace

bool IsInterpreterName(std::string_view argument) {
  const std::string_view name = BaseName(argument);
  return IsPosixShell(name) || IsOtherShell(name) || IsScriptInterpreter(name);
}

std::vector<ArgumentRole> ArgumentRoles(const std::vector<std::string>& arguments) {
  std::vector<ArgumentRole> roles(arguments.size(), ArgumentRole::kPlain);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view name = BaseName(arguments[i]);
    if (IsPosixShell(name)) {
      MarkShellScript(arguments, i, ArgumentRole::kShellScript, &roles);
    } else if (IsOtherShell(name)) {
      MarkShellScript(arguments, i, ArgumentRole::kCode, &roles);
    } else if (IsScriptInterpreter(name)) {
      MarkInterpreterCode(arguments, i, &roles);
    } else if (name == "su" || name == "runuser" || name == "flock" || name == "script") {
      // Command strings these hand to a shell: -c CMD, --command CMD or =CMD.
      for (std::size_t j = i + 1; j < arguments.size(); ++j) {
        const std::string& a = arguments[j];
        if ((a == "-c" || a == "--command") && j + 1 < arguments.size())
          roles[j + 1] = ArgumentRole::kCode;
        if (a.rfind("--command=", 0) == 0 || (a.size() > 2 && a.rfind("-c", 0) == 0))
          roles[j] = ArgumentRole::kCode;
      }
    } else if (name == "env") {
      // env -S splits its value like a shell.
      for (std::size_t j = i + 1; j < arguments.size(); ++j) {
        const std::string& a = arguments[j];
        if ((a == "-S" || a == "--split-string") && j + 1 < arguments.size())
          roles[j + 1] = ArgumentRole::kCode;
        if (a.rfind("--split-string=", 0) == 0 ||
            (a.size() > 2 && a[0] == '-' && a[1] != '-' && a.find('S') != std::string::npos))
          roles[j] = ArgumentRole::kCode;
      }
    }
  }
  return roles;
}

std::vector<std::size_t> ProgramIndexes(const std::vector<std::string>& arguments) {
  std::vector<std::size_t> indexes;
  std::size_t index = 0;
  while (index < arguments.size() && indexes.size() <= arguments.size()) {
    indexes.push_back(index);
    const Wrapper* wrapper = FindWrapper(BaseName(arguments[index]));
    if (!wrapper) break;
    index = WrappedProgram(*wrapper, arguments, index);
  }
  return indexes;
}

namespace {

bool IsWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == '/' || c == '[' || c == '(' || c == '+';
}

// Whether a script re-reads text as code somewhere: a name put into it
// quoted could be unquoted again there.
bool RereadsText(std::string_view script) {
  std::size_t at = 0;
  while (at < script.size()) {
    if (!IsWordCharacter(script[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < script.size() && IsWordCharacter(script[end])) ++end;
    const std::string_view word = script.substr(at, end - at);
    at = end;
    if (word.find("((") != std::string_view::npos || word.find("[[") != std::string_view::npos)
      return true;  // arithmetic and [[ ]]: operands are evaluated as expressions
    const std::string_view name = BaseName(word);
    if (OneOf(name, {"eval", "source", "trap", "alias", "let", "declare", "typeset", "local",
                     "readonly", "builtin", "command", "su", "runuser", "ssh", "watch",
                     "parallel", "script", "flock", "awk", "gawk", "mawk", "nawk", "sed"}) ||
        IsInterpreterName(name))
      return true;
    if (word == ".") {  // "." as a command reads a file as script
      std::size_t before = at - word.size();
      while (before > 0 && (script[before - 1] == ' ' || script[before - 1] == '\t')) --before;
      if (before == 0 || std::string_view(";&|(\n").find(script[before - 1]) != std::string_view::npos)
        return true;
    }
  }
  return false;
}

void AppendSingleQuoted(std::string_view text, std::string* out) {
  for (char c : text) {
    if (c == '\'') {
      *out += "'\\''";
    } else {
      *out += c;
    }
  }
}

// The scan behind PutFileIntoShellScript; out may be null (check only).
bool ScanShellScript(std::string_view script, std::string_view code, std::string_view path,
                     std::string* out) {
  if (code.empty() || script.find(code) == std::string_view::npos) {
    if (out) *out = script;
    return true;
  }
  if (RereadsText(script)) return false;
  enum class State { kPlain, kSingle, kDouble } state = State::kPlain;
  bool untracked = false;    // a construct whose end this scan does not follow
  bool word_subscript = false;  // the current unquoted word holds a "["
  std::string result;
  std::size_t i = 0;
  auto starts = [&](std::size_t at, std::string_view what) {
    return script.substr(at, what.size()) == what;
  };
  while (i < script.size()) {
    if (starts(i, code)) {
      if (untracked || word_subscript) return false;
      if (i > 0 && state != State::kSingle && script[i - 1] == '$') return false;
      if (out) {
        switch (state) {
          case State::kPlain:
            result += '\'';
            AppendSingleQuoted(path, &result);
            result += '\'';
            break;
          case State::kSingle:
            AppendSingleQuoted(path, &result);
            break;
          case State::kDouble:
            result += "\"'";
            AppendSingleQuoted(path, &result);
            result += "'\"";
            break;
        }
      }
      i += code.size();
      continue;
    }
    const char c = script[i];
    if (state == State::kSingle) {
      if (c == '\'') state = State::kPlain;
      result += c;
      ++i;
      continue;
    }
    if (c == '\\') {
      if (starts(i + 1, code)) return false;
      result += script.substr(i, 2);
      i += 2;
      continue;
    }
    if (c == '`' || (c == '$' && i + 1 < script.size() &&
                     (script[i + 1] == '(' || script[i + 1] == '{' || script[i + 1] == '[' ||
                      (state == State::kPlain && (script[i + 1] == '\'' || script[i + 1] == '"')))))
      untracked = true;
    if (state == State::kDouble) {
      if (c == '"') state = State::kPlain;
      result += c;
      ++i;
      continue;
    }
    // Unquoted.
    const bool word_start = i == 0 || std::string_view(" \t\n;&|()<>").find(script[i - 1]) !=
                                          std::string_view::npos;
    if (c == '#' && word_start) {
      const std::size_t end = std::min(script.find('\n', i), script.size());
      if (script.substr(i, end - i).find(code) != std::string_view::npos) return false;
      result += script.substr(i, end - i);
      i = end;
      continue;
    }
    if (c == '<' && starts(i, "<<")) untracked = true;  // a here-document
    if (c == '(' && starts(i, "((")) untracked = true;
    if (std::string_view(" \t\n;&|()<>").find(c) != std::string_view::npos) word_subscript = false;
    if (c == '[') word_subscript = true;
    if (c == '\'') state = State::kSingle;
    if (c == '"') state = State::kDouble;
    result += c;
    ++i;
  }
  if (out) *out = std::move(result);
  return true;
}

}  // namespace

bool PutFileIntoShellScript(std::string_view script, std::string_view file_code,
                            std::string_view path, std::string* out) {
  return ScanShellScript(script, file_code, path, out);
}

bool ShellScriptTakesFile(std::string_view script, std::string_view file_code) {
  return ScanShellScript(script, file_code, {}, nullptr);
}

}  // namespace quindelo::commands
