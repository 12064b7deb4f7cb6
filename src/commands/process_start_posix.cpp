#include "commands/process_start.h"
#include "platform/thread_name.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

  // 0 or an errno value.
  int Prepare(const std::string& working_folder) {
    if (!attributes_ok_ || !actions_ok_) return ENOMEM;
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    int result = posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (result == 0) result = posix_spawnattr_setsigmask(&attributes_, &empty);
    if (result == 0) result = posix_spawnattr_setsigdefault(&attributes_, &all);
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

}  // namespace

bool StartProcess(const std::vector<std::string>& arguments, const std::string& working_folder,
                  bool wait, int* error, int* exit_status) {
  int result = 0;
  if (arguments.empty() || arguments.front().empty()) {
    result = ENOENT;
  } else {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
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
