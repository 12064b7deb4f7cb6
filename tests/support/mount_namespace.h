// Mounts for tests that need a second file system or a second mount of one
// folder, without touching the machine's own mount table: the test process
// moves into a private mount namespace of its own (inside a user namespace
// when it is not root), where it may mount a tmpfs or bind a folder. The
// mounts go with the process.
//
// Call EnterPrivateMountNamespace at the start of a test, before any thread
// is started (the kernel refuses a user namespace to a process with more
// than one thread); each CTest test runs in a process of its own.
#pragma once

#include <cstddef>
#include <string>

namespace quindelo::test {

// Moves this process into a private mount namespace. False, with the reason
// (for GTEST_SKIP), when the kernel or the process's rights refuse it.
bool EnterPrivateMountNamespace(std::string* why);

// Mounts a fresh tmpfs on the existing folder native_folder. False, with the
// reason, on failure.
bool MountTmpfs(const std::string& native_folder, std::string* why);
// The same with a size limit of size_bytes (rounded up to whole pages), for
// a file system that fills up.
bool MountTmpfs(const std::string& native_folder, std::size_t size_bytes, std::string* why);

// Unmounts what is mounted on native_folder. False, with the reason, on
// failure.
bool Unmount(const std::string& native_folder, std::string* why);

// Makes native_target a second mount of the folder native_source. False,
// with the reason, on failure.
bool BindMount(const std::string& native_source, const std::string& native_target,
               std::string* why);

}  // namespace quindelo::test
