// Local sockets: the service folder is private or refused, one server per
// socket, each request read whole or handed over at its end or deadline,
// and the bound on connections frees a place as each one closes, so that
// neither idle peers nor answered ones keep the next client out.
#include "platform/local_socket.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_name.h"
#include "support/test_env.h"

namespace {

using quindelo::platform::ConnectLocal;
using quindelo::platform::LocalConnection;
using quindelo::platform::LocalServer;

// A server on a thread of its own: a request is whole at its first line
// break; kept connections stay open until Release, the others are answered
// with their own bytes and closed.
class EchoServer {
 public:
  EchoServer(const std::string& socket_path, const LocalServer::Limits& limits)
      : server_(limits) {
    EXPECT_TRUE(server_.Listen(socket_path)) << socket_path;
    thread_ = std::thread([this] {
      quindelo::platform::NameThisThread("t-echo-server");
      server_.Run([](std::string_view bytes) { return bytes.find('\n') != bytes.npos; },
                  [this](std::unique_ptr<LocalConnection> peer, std::string bytes,
                         LocalServer::Received how) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    hows_.push_back(how);
                    if (keep_) {
                      kept_.push_back(std::move(peer));
                    } else {
                      peer->WriteAll(bytes);
                    }
                    changed_.notify_all();
                  });
    });
  }
  ~EchoServer() {
    server_.Stop();
    thread_.join();
  }
  void set_keep(bool keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = keep;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.clear();
  }
  // Waits until count requests have been handed over; their endings.
  std::vector<LocalServer::Received> WaitForHandOvers(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return hows_.size() >= count; });
    return hows_;
  }

 private:
  LocalServer server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LocalServer::Received> hows_;
  std::vector<std::unique_ptr<LocalConnection>> kept_;
  bool keep_ = false;
  std::thread thread_;
};

// Everything a connection receives until it ends (at most 20 s).
std::string ReadAll(LocalConnection* c) {
  std::string all;
  for (int round = 0; round < 20; ++round) {
    const LocalConnection::ReadResult r = c->Read(&all, std::chrono::seconds(1));
    if (r == LocalConnection::ReadResult::kEnd || r == LocalConnection::ReadResult::kFailed) break;
  }
  return all;
}

class LocalSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = quindelo::platform::ServiceFolderPath(env_.root().c_str());
    ASSERT_TRUE(quindelo::platform::PrepareServiceFolder(folder_));
    socket_ = folder_ + "/test.sock";
  }
  quindelo::test::ScopedTestEnv env_;
  std::string folder_;
  std::string socket_;
};

TEST_F(LocalSocketTest, EachClosedConnectionFreesItsPlace) {
  LocalServer::Limits limits;
  limits.max_connections = 2;
  EchoServer server(socket_, limits);
  // More requests one after the other than there are places.
  for (int i = 0; i < 6; ++i) {
    auto client = ConnectLocal(socket_);
    ASSERT_TRUE(client) << i;
    const std::string line = "request " + std::to_string(i) + "\n";
    ASSERT_TRUE(client->WriteAll(line));
    EXPECT_EQ(ReadAll(client.get()), line) << i;
  }
  // Places held by the handler: the next client is closed at once, and
  // served again once they are given back.
  server.set_keep(true);
  std::vector<std::unique_ptr<LocalConnection>> held;
  for (int i = 0; i < 2; ++i) {
    held.push_back(ConnectLocal(socket_));
    ASSERT_TRUE(held.back()->WriteAll("held\n"));
  }
  server.WaitForHandOvers(8);
  auto refused = ConnectLocal(socket_);
  ASSERT_TRUE(refused);
  refused->WriteAll("refused\n");
  EXPECT_EQ(ReadAll(refused.get()), "");
  server.set_keep(false);
  server.Release();
  auto again = ConnectLocal(socket_);
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->WriteAll("again\n"));
  EXPECT_EQ(ReadAll(again.get()), "again\n");
}

TEST_F(LocalSocketTest, IdlePeersGoAtTheirDeadlineOrForANewcomer) {
  LocalServer::Limits limits;
  limits.max_connections = 3;
  limits.request_deadline = std::chrono::milliseconds(300);
  EchoServer server(socket_, limits);
  std::vector<std::unique_ptr<LocalConnection>> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(ConnectLocal(socket_));
  // The places are full of idle peers: a newcomer takes the oldest's.
  auto newcomer = ConnectLocal(socket_);
  ASSERT_TRUE(newcomer->WriteAll("new\n"));
  EXPECT_EQ(ReadAll(newcomer.get()), "new\n");
  EXPECT_EQ(ReadAll(idle[0].get()), "");
  // A peer that stops in the middle and closes its side, and the idle ones
  // left, which reach their deadline.
  auto cut = ConnectLocal(socket_);
  ASSERT_TRUE(cut->WriteAll("no line break"));
  cut.reset();
  for (std::size_t i = 1; i < idle.size(); ++i) EXPECT_EQ(ReadAll(idle[i].get()), "");
  std::vector<LocalServer::Received> hows = server.WaitForHandOvers(4);
  ASSERT_EQ(hows.size(), 4u);
  EXPECT_EQ(hows[0], LocalServer::Received::kWhole);
  int cut_short = 0;
  int timed_out = 0;
  for (std::size_t i = 1; i < hows.size(); ++i) {
    cut_short += hows[i] == LocalServer::Received::kCutShort;
    timed_out += hows[i] == LocalServer::Received::kTimedOut;
  }
  EXPECT_EQ(cut_short, 1);
  EXPECT_EQ(timed_out, 2);
}

TEST_F(LocalSocketTest, OneServerPerSocketInAPrivateFolderOnly) {
  {
    LocalServer first;
    ASSERT_TRUE(first.Listen(socket_));
    LocalServer second;
    const quindelo::platform::Status refused = second.Listen(socket_);
    EXPECT_EQ(refused.code(), quindelo::platform::kErrorFileInUse);
    // A client does not talk to a socket in a folder others may reach.
    ASSERT_EQ(chmod(folder_.c_str(), 0750), 0);
    EXPECT_FALSE(ConnectLocal(socket_));
    ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
    EXPECT_TRUE(ConnectLocal(socket_));
    // Stopped before it runs, Run returns at once.
    first.Stop();
    first.Run([](std::string_view) { return true; },
              [](std::unique_ptr<LocalConnection>, std::string, LocalServer::Received) {});
  }
  EXPECT_FALSE(quindelo::test::Exists(socket_));  // the name goes with its server
  EXPECT_FALSE(ConnectLocal(socket_));
  LocalServer third;
  EXPECT_TRUE(third.Listen(socket_));

  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    bool ok;
  };
  const Case cases[] = {
      {"missing, under umask 0", [](const std::string&) { umask(0); }, true},
      {"missing, under umask 077", [](const std::string&) { umask(077); }, true},
      {"private", [](const std::string& f) { mkdir(f.c_str(), 0700); }, true},
      {"missing, under umask 0177", [](const std::string&) { umask(0177); }, true},
      {"mode 0755", [](const std::string& f) { mkdir(f.c_str(), 0755); }, false},
      {"mode 0710", [](const std::string& f) { mkdir(f.c_str(), 0710); }, false},
      {"a file", [](const std::string& f) { quindelo::test::WriteTextFile(f, ""); }, false},
      {"a link to a private folder",
       [this](const std::string& f) { symlink(folder_.c_str(), f.c_str()); }, false},
  };
  const mode_t old_mask = umask(022);
  for (const Case& c : cases) {
    const std::string f = env_.Path("case");
    c.make(f);
    EXPECT_EQ(static_cast<bool>(quindelo::platform::PrepareServiceFolder(f)), c.ok) << c.what;
    struct stat status;
    if (c.ok) {
      ASSERT_EQ(lstat(f.c_str(), &status), 0) << c.what;
      EXPECT_EQ(status.st_mode & 07777, 0700u) << c.what;
    }
    umask(022);
    quindelo::test::RemoveTree(f);
  }
  umask(old_mask);
  EXPECT_EQ(quindelo::platform::ServiceFolderPath(nullptr), "");
  EXPECT_EQ(quindelo::platform::ServiceFolderPath("relative"), "");
  EXPECT_EQ(quindelo::platform::ServiceFolderPath("/run/user/1000/"), "/run/user/1000/quindelo");
}

}  // namespace
