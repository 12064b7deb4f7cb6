// The find service as a user meets it: a real `quindelo-find --serve` on a
// runtime folder and a drive of the test's own answers the ordinary finder
// exactly as the finder answers itself, sees the drive's changes, outlives
// hostile clients, refuses a second server and an unsafe folder, and ends
// cleanly on SIGTERM.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_name.h"
#include "search/find_service_protocol.h"
#include "support/test_env.h"

namespace {

using quindelo::test::MakeFolder;
using quindelo::test::WriteTextFile;

struct FinderRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the finder through a shell with extra environment words first
// ("XDG_DATA_HOME=..."); standard error is kept apart.
FinderRun Finder(const quindelo::test::ScopedTestEnv& env, const std::string& args,
                 const std::string& env_words = "") {
  const std::string err_path = env.Path("stderr.txt");
  const std::string command =
      "( " + env_words + " exec " + QUINDELO_FIND + " " + args + " ) 2>'" + err_path + "'";
  FinderRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = quindelo::test::ReadWholeFile(err_path);
  return run;
}

// A --serve process with its standard error in a file; shell_prefix runs
// first in the same shell (limits for the server).
class Server {
 public:
  Server(const std::string& args, const std::string& err_path,
         const std::string& shell_prefix = "")
      : err_path_(err_path) {
    pid_ = fork();
    if (pid_ == 0) {
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, 2);
      const std::string command = shell_prefix + "exec " + QUINDELO_FIND + " " + args;
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Server() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits until it serves (true) or has ended (false).
  bool WaitServing() {
    for (int round = 0; round < 3000; ++round) {
      if (quindelo::test::ReadWholeFile(err_path_).find("serving ") != std::string::npos)
        return true;
      if (!Running()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool Running() {
    if (status_ >= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // Sends signal and waits for the end; the exit status, or 128 + signal.
  int StopWith(int signal) {
    if (Running()) {
      kill(pid_, signal);
      int status = 0;
      waitpid(pid_, &status, 0);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }
  std::string err() const { return quindelo::test::ReadWholeFile(err_path_); }

 private:
  std::string err_path_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// A raw connection to the service's socket, for clients that misbehave.
int Connect(const std::string& socket_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends until it closes the connection (or 20 s pass,
// which fails the test: a server must drop a peer, never hold it).
std::string ReadToEnd(int fd) {
  timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string all;
  std::array<char, 4096> buffer;
  for (;;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n == 0) return all;
    // A peer that closes with bytes of ours unread resets the connection.
    if (n < 0 && errno == ECONNRESET) return all;
    if (n < 0) {
      ADD_FAILURE() << "the server held a connection open";
      return all;
    }
    all.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

std::vector<quindelo::AnswerRecord> Records(const std::string& bytes) {
  quindelo::AnswerReader reader;
  reader.Feed(bytes);
  std::vector<quindelo::AnswerRecord> records;
  quindelo::AnswerRecord r;
  while (reader.Take(&r) == quindelo::AnswerReader::Next::kRecord) records.push_back(r);
  return records;
}

class FindServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    had_runtime_ = old != nullptr;
    if (old) old_runtime_ = old;
    runtime_ = env_.Path("run");
    MakeFolder(runtime_);
    ASSERT_EQ(chmod(runtime_.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    socket_ = runtime_ + "/quindelo/find.sock";
    root_ = env_.Path("tree");
    MakeFolder(root_ + "/src/lib");
    MakeFolder(root_ + "/doc");
    WriteTextFile(root_ + "/README.txt", "read me first");
    WriteTextFile(root_ + "/src/main.c", "int main() { return lock(m); }");
    WriteTextFile(root_ + "/src/lib/util.c", "void lock(mutex m);");
    WriteTextFile(root_ + "/src/lib/big.bin", std::string(5000, 'x'));
    WriteTextFile(root_ + "/doc/notes.txt", "lock notes");
    drive_ = "--drive 'X=" + root_ + "' ";
  }
  void TearDown() override {
    if (had_runtime_)
      setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }

  quindelo::test::ScopedTestEnv env_;
  std::string runtime_;
  std::string socket_;
  std::string root_;
  std::string drive_;
  std::string old_runtime_;
  bool had_runtime_ = false;
};

// The finds the scenario compares, as the finder's arguments.
const char* const kFinds[] = {
    "--look-in X: --named '*.c'",
    "--look-in X: --named '*' --sort name --descending",
    "--look-in X: --named '*' --sort size --native",
    "--look-in 'X:\\src' --no-subfolders --named '*'",
    "--look-in X: --named '*' --containing 'lock AND NOT mutex'",
    "--look-in X: --named '*.txt' -0",
    "--look-in X: --named nothing-like-this",
    "--look-in 'X:\\missing' --named '*'",
    "--look-in X: --named '*' --containing '(lock'",
    "--look-in X: --named 'src\\*.c'",
    "--look-in X:src --named x",
};

TEST_F(FindServiceTest, ServerAnswersAsTheFinderDoesAndSeesChanges) {
  // The finder on its own first: a live server holds the drive's index.
  std::vector<FinderRun> alone;
  for (const char* find : kFinds) alone.push_back(Finder(env_, drive_ + find + " --no-server"));

  Server server(drive_ + "--serve", env_.Path("server.txt"));
  ASSERT_TRUE(server.WaitServing()) << server.err();
  for (std::size_t i = 0; i < std::size(kFinds); ++i) {
    SCOPED_TRACE(kFinds[i]);
    const FinderRun served = Finder(env_, drive_ + kFinds[i]);
    EXPECT_EQ(served.status, alone[i].status) << served.err;
    EXPECT_EQ(served.out, alone[i].out);
    EXPECT_EQ(served.err, alone[i].err);
  }
  // Two finds at once for the one drive are answered one after the other.
  {
    std::thread other([&] {
      quindelo::platform::NameThisThread("t-other-finder");
      EXPECT_EQ(Finder(env_, drive_ + kFinds[0]).out, alone[0].out);
    });
    EXPECT_EQ(Finder(env_, drive_ + kFinds[1]).out, alone[1].out);
    other.join();
  }

  // In the order found (sent as they come): the same paths.
  auto sorted_lines = [](const std::string& out) {
    std::multiset<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
      lines.insert(out.substr(at, end - at));
    return lines;
  };
  FinderRun r = Finder(env_, drive_ + "--look-in X: --named '*' --sort none");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Found 8 files.\n");
  EXPECT_EQ(sorted_lines(r.out), sorted_lines(alone[1].out));

  // A limit: that many paths, and the limit's message.
  r = Finder(env_, drive_ + "--look-in X: --named '*' --limit 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  EXPECT_EQ(r.err, "Stopped after maximum of 2 files found.\n");

  // A file made just before the find is in its answer, one deleted is not.
  WriteTextFile(root_ + "/src/lib/fresh.c", "");
  ASSERT_EQ(unlink((root_ + "/src/main.c").c_str()), 0);
  r = Finder(env_, drive_ + "--look-in X: --named '*.c' --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "X:\\src\\lib\\fresh.c\nX:\\src\\lib\\util.c\n");
  EXPECT_TRUE(server.Running());

  // A run that maps X: elsewhere is not served: it finds on its own (with an
  // index of its own, since the server holds this one).
  const std::string other_root = env_.Path("other");
  MakeFolder(other_root);
  WriteTextFile(other_root + "/elsewhere.c", "");
  r = Finder(env_, "--drive 'X=" + other_root + "' --look-in X: --named '*.c' --quiet",
             "XDG_DATA_HOME='" + env_.Path("other-data") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "X:\\elsewhere.c\n");

  // A second server for the same socket refuses to start.
  Server second(drive_ + "--serve", env_.Path("second.txt"));
  EXPECT_FALSE(second.WaitServing());
  EXPECT_EQ(second.StopWith(SIGTERM), 2);
  EXPECT_NE(second.err().find("another quindelo-find --serve already serves " + socket_),
            std::string::npos)
      << second.err();

  // SIGTERM ends the server cleanly; its index, closed at a commit point,
  // serves the finder on its own at once.
  EXPECT_EQ(server.StopWith(SIGTERM), 0) << server.err();
  r = Finder(env_, drive_ + "--look-in X: --named '*.c' --quiet --index-only");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "X:\\src\\lib\\fresh.c\nX:\\src\\lib\\util.c\n");
  EXPECT_FALSE(quindelo::test::Exists(socket_));
}

TEST_F(FindServiceTest, HostileClientsNeitherCrashNorHoldTheServer) {
  // Few descriptors: the flood below must not take those its index needs.
  Server server(drive_ + "--serve", env_.Path("server.txt"), "ulimit -n 64; ");
  ASSERT_TRUE(server.WaitServing()) << server.err();
  quindelo::FindServiceRequest request;
  request.look_in = "X:";
  request.drive_root = root_;
  request.named = "*.c";
  const std::string good = quindelo::EncodeFindRequest(request);
  std::string oversized = good.substr(0, 8) + std::string("\xff\xff\xff\x7f", 4);

  // A flood first: 200 connections at once that send nothing and stay.
  std::vector<int> flood;
  for (int i = 0; i < 200; ++i) {
    const int fd = Connect(socket_);
    if (fd >= 0) flood.push_back(fd);
  }
  EXPECT_GT(flood.size(), 100u);
  FinderRun r = Finder(env_, drive_ + "--look-in X: --named '*.c' --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "X:\\src\\main.c\nX:\\src\\lib\\util.c\n");
  for (int fd : flood) close(fd);

  enum class Answer {
    kNone,          // the peer is dropped without a word
    kError,         // an error record and the end
    kErrorOrReset,  // the same, unless the peer sees its unread bytes reset the connection
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool close_sending;  // shut the sending side after the bytes
    Answer answer;
  };
  const Case cases[] = {
      {"nothing, left open", "", false, Answer::kNone},
      {"a cut request, left open", good.substr(0, good.size() / 2), false, Answer::kError},
      {"a cut request, then the end", good.substr(0, 20), true, Answer::kError},
      {"a header only", good.substr(0, 12), true, Answer::kError},
      {"an oversized length", oversized, false, Answer::kError},
      {"another magic", "GET / HTTP/1.0\r\n\r\n", false, Answer::kError},
      {"a request and more", good + good, false, Answer::kError},
      {"a huge field", good.substr(0, 12) + "\x03\xff\xff\xff\xff" + std::string(70000, 'x'), false,
       Answer::kErrorOrReset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = Connect(socket_);
    ASSERT_GE(fd, 0);
    if (!c.bytes.empty()) send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL);
    if (c.close_sending) shutdown(fd, SHUT_WR);
    const std::vector<quindelo::AnswerRecord> records = Records(ReadToEnd(fd));
    close(fd);
    if (c.answer == Answer::kErrorOrReset && records.empty()) {
      // reset before the answer could be read
    } else if (c.answer != Answer::kNone) {
      ASSERT_EQ(records.size(), 2u);
      EXPECT_EQ(records[0].type, quindelo::RecordType::kError);
      EXPECT_FALSE(records[0].text.empty());
      EXPECT_EQ(records[1].type, quindelo::RecordType::kEnd);
      EXPECT_EQ(records[1].end.exit_status, quindelo::kFindExitError);
    } else {
      EXPECT_TRUE(records.empty());
    }
    EXPECT_TRUE(server.Running());
  }
  // A good raw request gets the whole answer.
  const int fd = Connect(socket_);
  ASSERT_GE(fd, 0);
  send(fd, good.data(), good.size(), MSG_NOSIGNAL);
  const std::vector<quindelo::AnswerRecord> records = Records(ReadToEnd(fd));
  close(fd);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].type, quindelo::RecordType::kAccepted);
  EXPECT_EQ(records[1].text, "X:\\src\\main.c");
  EXPECT_EQ(records[2].text, "X:\\src\\lib\\util.c");
  EXPECT_EQ(records[3].end.count, 2u);
  EXPECT_EQ(records[3].end.message, "Found 2 files.");
  // A client that goes away in the middle of its answer.
  const int leaving = Connect(socket_);
  send(leaving, good.data(), good.size(), MSG_NOSIGNAL);
  close(leaving);
  r = Finder(env_, drive_ + "--look-in X: --named '*.c' --quiet");
  EXPECT_EQ(r.out, "X:\\src\\main.c\nX:\\src\\lib\\util.c\n") << r.err;
  EXPECT_EQ(server.StopWith(SIGINT), 0) << server.err();
}

TEST_F(FindServiceTest, ServerRefusesAFolderOthersCouldReach) {
  const std::string folder = runtime_ + "/quindelo";
  struct Case {
    const char* what;
    std::function<void()> set_up;
    std::string message;
  };
  const Case cases[] = {
      {"mode 0755",
       [&] {
         MakeFolder(folder);
         chmod(folder.c_str(), 0755);
       },
       "cannot serve in " + folder},
      {"mode 0701",
       [&] {
         MakeFolder(folder);
         chmod(folder.c_str(), 0701);
       },
       "cannot serve in " + folder},
      {"a link to a private folder",
       [&] {
         MakeFolder(env_.Path("private"));
         chmod(env_.Path("private").c_str(), 0700);
         symlink(env_.Path("private").c_str(), folder.c_str());
       },
       "cannot serve in " + folder},
      {"a file", [&] { WriteTextFile(folder, ""); }, "cannot serve in " + folder},
      {"no runtime folder", [&] { unsetenv("XDG_RUNTIME_DIR"); }, "needs XDG_RUNTIME_DIR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.set_up();
    Server server(drive_ + "--serve", env_.Path("server.txt"));
    EXPECT_FALSE(server.WaitServing());
    EXPECT_EQ(server.StopWith(SIGTERM), 2);
    EXPECT_NE(server.err().find(c.message), std::string::npos) << server.err();
    EXPECT_FALSE(quindelo::test::Exists(folder + "/find.sock"));
    // The finder does without it.
    const FinderRun r = Finder(env_, drive_ + "--look-in X: --named '*.c' --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "X:\\src\\main.c\nX:\\src\\lib\\util.c\n");
    quindelo::test::RemoveTree(folder);
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
}

}  // namespace
