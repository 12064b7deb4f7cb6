#include "commands/process_start.h"
#include "platform/thread_name.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

extern char** environ;

namespace quindelo::commands {
namespace {

// The spawn attributes and file actions of one start, released in every case.
class SpawnSetup {
 public:
  SpawnSetup() {
    attributes_ok_ = posix_spawnattr_init(&attributes_) == 0;
    actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attributes_ok_) posix_spawnattr_destroy(&attributes_);
    if (actions_ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // 0 or an errno value. error_fd, when not -1, becomes the process's
  // standard error.
  int Prepare(const std::string& working_folder, int error_fd = -1) {
    if (!attributes_ok_ || !actions_ok_) return ENOMEM;
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    int result = posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (result == 0) result = posix_spawnattr_setsigmask(&attributes_, &empty);
    if (result == 0) result = posix_spawnattr_setsigdefault(&attributes_, &all);
    if (result == 0 && error_fd >= 0)
      result = posix_spawn_file_actions_adddup2(&actions_, error_fd, STDERR_FILENO);
    if (result == 0) result = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    if (result == 0 && !working_folder.empty())
      result = posix_spawn_file_actions_addchdir_np(&actions_, working_folder.c_str());
    return result;
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  bool attributes_ok_ = false;
  bool actions_ok_ = false;
};

// The process's exit status, or 128 plus the signal that ended it; -1 when
// it could not be collected.
int WaitForEnd(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void CollectLater(pid_t pid) {
  try {
    std::thread([pid] {
      platform::NameThisThread("q-child-wait");
      WaitForEnd(pid);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the process runs on and stays unreaped until we end.
  }
}

// argv for posix_spawnp: pointers into arguments, then a null.
std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

bool RunCapturingErrors(const std::vector<std::string>& arguments,
                        const std::string& working_folder, std::string* error_output, int* error,
                        int* exit_status) {
  error_output->clear();
  int result = 0;
  int pipe_ends[2] = {-1, -1};
  if (arguments.empty() || arguments.front().empty()) {
    result = ENOENT;
  } else if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    result = errno;
  } else {
    std::vector<char*> argv = ArgumentVector(arguments);
    pid_t pid = -1;
    {
      SpawnSetup setup;
      result = setup.Prepare(working_folder, pipe_ends[1]);
      if (result == 0)
        result =
            posix_spawnp(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
    }
    close(pipe_ends[1]);
    if (result == 0) {
      char buffer[1024];
      for (;;) {
        const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const std::size_t room = kMaxErrorOutput - error_output->size();
        error_output->append(buffer, std::min(room, static_cast<std::size_t>(got)));
      }
      const int status = WaitForEnd(pid);
      if (exit_status != nullptr) *exit_status = status;
    }
    close(pipe_ends[0]);
  }
  if (error != nullptr) *error = result;
  return result == 0;
}

bool StartProcess(const std::vector<std::string>& arguments, const std::string& working_folder,
                  bool wait, int* error, int* exit_status) {
  int result = 0;
  if (arguments.empty() || arguments.front().empty()) {
    result = ENOENT;
  } else {
    std::vector<char*> argv = ArgumentVector(arguments);
    SpawnSetup setup;
    result = setup.Prepare(working_folder);
    pid_t pid = -1;
    if (result == 0)
      result = posix_spawnp(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
    if (result == 0) {
      if (wait) {
        const int status = WaitForEnd(pid);
        if (exit_status != nullptr) *exit_status = status;
      } else {
        CollectLater(pid);
      }
    }
  }
  if (error != nullptr) *error = result;
  return result == 0;
}

}  // namespace quindelo::commands
