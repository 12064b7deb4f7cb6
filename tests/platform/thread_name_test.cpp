// Thread names as the system shows them (/proc/self/task/<tid>/comm): the
// given name, cut to the kernel's 15 bytes; and the drive index's workers
// each under a name of their own while an index is open.
#include "platform/thread_name.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "index/drive_index.h"

namespace quindelo::platform {
namespace {

std::set<std::string> ThreadNames() {
  std::set<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  return names;
}

TEST(ThreadName, TheSystemShowsTheNameCutToFifteenBytes) {
  const struct {
    const char* given;
    const char* shown;
  } cases[] = {
      {"q-short", "q-short"},
      {"q-exactly-15-ch", "q-exactly-15-ch"},
      {"q-a-name-longer-than-fifteen", "q-a-name-longer"},
  };
  for (const auto& c : cases) {
    std::string seen;
    std::thread t([&] {
      NameThisThread(c.given);
      std::ifstream comm("/proc/thread-self/comm");
      std::getline(comm, seen);
    });
    t.join();
    EXPECT_EQ(c.shown, seen) << c.given;
  }
}

TEST(ThreadName, DriveIndexWorkersAreNamed) {
  DriveIndex index;
  // Each worker names itself as it starts.
  std::set<std::string> names;
  for (int look = 0; look < 1000; ++look) {
    names = ThreadNames();
    if (names.count("q-index-find") && names.count("q-index-walk") &&
        names.count("q-content-1") && names.count("q-index-notify"))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const char* name : {"q-index-find", "q-index-walk", "q-content-1", "q-index-notify"})
    EXPECT_EQ(1u, names.count(name)) << name;
}

}  // namespace
}  // namespace quindelo::platform
