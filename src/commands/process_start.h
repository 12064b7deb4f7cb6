// Starting another program from its arguments, never through a shell.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quindelo::commands {

// Starts arguments[0] (looked up on PATH when it holds no "/") with exactly
// these arguments and the caller's environment, in working_folder (the
// current folder when empty). The new process inherits no descriptor but
// standard input, output and error, and starts with the default signal
// dispositions and an empty signal mask. With wait set, returns once the
// process has ended; otherwise a detached thread collects it when it ends,
// so that no finished process is left behind. False, with *error set to
// the errno value when error is not null, when the process could not be
// started (no such program, not executable, no such working folder, or no
// arguments at all). When waited for and exit_status is not null, it is set
// to the process's exit status, or to 128 plus the signal that ended it.
//
// Thread-safety: may be called from any thread. A wait blocks the caller.
bool StartProcess(const std::vector<std::string>& arguments, const std::string& working_folder,
                  bool wait, int* error = nullptr, int* exit_status = nullptr);

// As StartProcess with wait set, but what the process writes to its standard
// error goes into *error_output instead (at most kMaxErrorOutput bytes are
// kept; the rest is read and dropped, so the process never blocks on a full
// pipe). Standard input and output are inherited as before.
inline constexpr std::size_t kMaxErrorOutput = 4096;
bool RunCapturingErrors(const std::vector<std::string>& arguments,
                        const std::string& working_folder, std::string* error_output,
                        int* error = nullptr, int* exit_status = nullptr);

}  // namespace quindelo::commands
