// Runs one test of this test program again in a process of its own whose
// window system scales by a factor (QT_SCALE_FACTOR), for what must hold at
// every device pixel ratio. The scale of a process is fixed when its
// application starts, hence the second process.
#pragma once

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern char** environ;

namespace quindelo::test {

// The factor this process runs at: 1 unless started by RunScaled.
inline double ScaleOfThisRun() {
  const char* factor = getenv("QUINDELO_TEST_SCALE");
  return factor ? std::atof(factor) : 1.0;
}

// Starts this program with only the running test and factor as its scale;
// true when that run passed. In the scaled run itself, returns true at
// once, so a test may call it unconditionally.
inline bool RunScaled(const char* factor) {
  if (getenv("QUINDELO_TEST_SCALE")) return true;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string test_name = std::string(test->test_suite_name()) + "." + test->name();
  std::vector<std::string> env_texts = {std::string("QT_SCALE_FACTOR=") + factor,
                                        std::string("QUINDELO_TEST_SCALE=") + factor};
  std::vector<char*> env;
  for (std::string& text : env_texts) env.push_back(text.data());
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    if (entry.rfind("QT_SCALE_FACTOR=", 0) != 0 && entry.rfind("QUINDELO_TEST_SCALE=", 0) != 0)
      env.push_back(*e);
  }
  env.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=" + test_name;
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, env.data()) != 0) return false;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quindelo::test
