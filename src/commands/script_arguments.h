// How the programs of a command line read its arguments: which argument is
// the script of a shell (sh -c "cat %1"), which one is code for another
// interpreter (python3 -c, perl -e, a command string for su or env -S), and
// which program a wrapper (env, nice, nohup, setsid, exec, ionice, timeout,
// stdbuf, sudo, ...) ends up running. A shell found anywhere among the
// arguments counts, so that a shell behind any wrapper or terminal
// (xterm -e sh -c ...) is seen as well.
//
// A file name put into a shell script is quoted there as one word, by the
// quoting rules of the place it lands in; where no quoting can keep it one
// word (inside a command substitution, after a backslash, in a script that
// re-reads its text through eval or another shell, ...) the script is
// refused instead. The other shells and interpreters have quoting rules of
// their own: a file name in their code is always refused.
//
// Pure string work: thread-safe, no state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quindelo::commands {

enum class ArgumentRole {
  kPlain,        // handed to a program as data
  kShellScript,  // the script a POSIX shell runs (sh, bash, dash, zsh, ksh, ...)
  kCode,         // code of another shell or interpreter, or a command string
};

// The role of each argument, program first.
std::vector<ArgumentRole> ArgumentRoles(const std::vector<std::string>& arguments);

// Whether the program named by argument (a path or a bare name) reads code:
// a shell or a script interpreter.
bool IsInterpreterName(std::string_view argument);

// The indexes of the programs that run: 0, and while that program is a
// wrapper that starts another one, the index of that one. A wrapper whose
// program is missing ends the list.
std::vector<std::size_t> ProgramIndexes(const std::vector<std::string>& arguments);

// Replaces every file_code of script by path, quoted for a POSIX shell as
// one word of the context it stands in (unquoted, single-quoted or
// double-quoted). False, and *out untouched, when a file_code stands where
// no quoting keeps the name one word of data: after a backslash or a "$",
// in a comment, inside or after a command substitution, a parameter
// expansion, $'...', a here-document or an arithmetic context, within an
// array subscript, or anywhere in a script that re-reads text as code
// (eval, source, another shell or interpreter, ...). A script without
// file_code is copied unchanged.
bool PutFileIntoShellScript(std::string_view script, std::string_view file_code,
                            std::string_view path, std::string* out);

// Whether PutFileIntoShellScript succeeds for script, whatever the path.
bool ShellScriptTakesFile(std::string_view script, std::string_view file_code);

}  // namespace quindelo::commands
