#include "platform/local_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <vector>

namespace quindelo::platform {
namespace {

constexpr std::chrono::milliseconds kClientSendTimeout{5000};
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kAcceptPauseMs = 100;

void SetSendTimeout(int fd, std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

void SetBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Whether the process at the other end of a connected socket runs as uid.
bool PeerIsUser(int fd, uid_t uid) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer)
    return false;
  return peer.uid == uid;
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsPrivateFolderOf(const std::string& folder, uid_t uid) {
  struct stat status;
  if (lstat(folder.c_str(), &status) != 0) return false;
  return S_ISDIR(status.st_mode) && status.st_uid == uid && (status.st_mode & 07777) == 0700;
}

}  // namespace

std::string ServiceFolderPath(const char* runtime_dir) {
  if (runtime_dir == nullptr || runtime_dir[0] != '/') return std::string();
  std::string folder = runtime_dir;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  return folder + "quindelo";
}

Status PrepareServiceFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) == 0) {
    if (chmod(folder.c_str(), 0700) != 0) return PosixError(errno, folder);  // past the umask
  } else if (errno != EEXIST) {
    return PosixError(errno, folder);
  }
  struct stat status;
  if (lstat(folder.c_str(), &status) != 0) return PosixError(errno, folder);
  if (!S_ISDIR(status.st_mode)) return PosixError(ENOTDIR, folder);
  if (status.st_uid != geteuid() || (status.st_mode & 07777) != 0700)
    return PosixError(EPERM, folder);
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Connections

LocalConnection::LocalConnection(int fd, std::function<void()> on_close)
    : fd_(fd), on_close_(std::move(on_close)) {}

LocalConnection::~LocalConnection() {
  if (fd_ >= 0) close(fd_);
  if (on_close_) on_close_();
}

bool LocalConnection::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;  // EAGAIN: the send timeout passed
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

LocalConnection::ReadResult LocalConnection::Read(std::string* into,
                                                  std::chrono::milliseconds timeout) {
  pollfd wait{fd_, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ready = poll(&wait, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ReadResult::kFailed;
    if (ready == 0) return ReadResult::kTimeout;
    break;
  }
  char buffer[kReadChunk];
  for (;;) {
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EAGAIN ? ReadResult::kTimeout : ReadResult::kFailed;
    if (got == 0) return ReadResult::kEnd;
    into->append(buffer, static_cast<std::size_t>(got));
    return ReadResult::kData;
  }
}

std::unique_ptr<LocalConnection> ConnectLocal(const std::string& socket_path) {
  sockaddr_un address;
  if (!FillAddress(socket_path, &address)) return nullptr;
  const uid_t uid = geteuid();
  if (!IsPrivateFolderOf(FolderOf(socket_path), uid)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  std::unique_ptr<LocalConnection> connection(new LocalConnection(fd, nullptr));
  // A Unix socket connects at once or not at all; EAGAIN means the server's
  // backlog is full, which counts as no server.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return nullptr;
  if (!PeerIsUser(fd, uid)) return nullptr;
  SetBlocking(fd);
  SetSendTimeout(fd, kClientSendTimeout);
  return connection;
}

// ---------------------------------------------------------------------------
// The server

struct LocalServer::Shared {
  std::atomic<int> handed_out{0};
};

LocalServer::LocalServer() : LocalServer(Limits()) {}

LocalServer::LocalServer(const Limits& limits)
    : limits_(limits), shared_(std::make_shared<Shared>()) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    stop_read_ = ends[0];
    stop_write_ = ends[1];
  }
}

LocalServer::~LocalServer() {
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    unlink(socket_path_.c_str());
  }
  // The lock file stays: removing it while held would let two later servers
  // lock two different files of the same name.
  if (lock_fd_ >= 0) close(lock_fd_);
  if (stop_read_ >= 0) close(stop_read_);
  if (stop_write_ >= 0) close(stop_write_);
}

Status LocalServer::Listen(const std::string& socket_path) {
  sockaddr_un address;
  if (!FillAddress(socket_path, &address)) return PosixError(ENAMETOOLONG, socket_path);
  if (stop_read_ < 0) return PosixError(EMFILE, socket_path);
  const std::string lock_path = socket_path + ".lock";
  lock_fd_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd_ < 0) return PosixError(errno, lock_path);
  if (flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? kErrorFileInUse : errno;
    close(lock_fd_);
    lock_fd_ = -1;
    return PosixError(error, socket_path);
  }
  // Holding the lock, any name there is an earlier server's leftover.
  if (unlink(socket_path.c_str()) != 0 && errno != ENOENT) return PosixError(errno, socket_path);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return PosixError(errno, socket_path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 128) != 0) {
    const int error = errno;
    close(fd);
    return PosixError(error, socket_path);
  }
  listen_fd_ = fd;
  socket_path_ = socket_path;
  return Status::Ok();
}

void LocalServer::Stop() {
  const int saved = errno;
  if (stop_write_ >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t ignored = write(stop_write_, &byte, 1);
  }
  errno = saved;
}

void LocalServer::Run(const FrameCheck& whole, const RequestHandler& handle) {
  using Clock = std::chrono::steady_clock;
  struct Reading {
    int fd;
    std::string bytes;
    Clock::time_point deadline;
  };
  std::deque<Reading> reading;  // oldest first
  std::shared_ptr<Shared> shared = shared_;
  auto hand_over = [&](Reading& r, Received how) {
    SetBlocking(r.fd);
    SetSendTimeout(r.fd, limits_.send_timeout);
    shared->handed_out.fetch_add(1);
    std::unique_ptr<LocalConnection> connection(
        new LocalConnection(r.fd, [shared] { shared->handed_out.fetch_sub(1); }));
    r.fd = -1;
    handle(std::move(connection), std::move(r.bytes), how);
  };
  auto drop = [](Reading& r) {
    if (r.fd >= 0) close(r.fd);
    r.fd = -1;
  };
  const uid_t uid = geteuid();
  // Connections take at most half of the process's descriptors, so that the
  // rest of the process (its index files, its folder walks) always has some.
  int max_connections = std::max(1, limits_.max_connections);
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur != RLIM_INFINITY)
    max_connections = static_cast<int>(std::min<rlim_t>(
        static_cast<rlim_t>(max_connections), std::max<rlim_t>(1, descriptors.rlim_cur / 2)));
  // Out of descriptors with nothing of its own to drop, the server leaves
  // new connections in the backlog for a moment instead of spinning on them.
  Clock::time_point accept_paused_until{};
  std::vector<pollfd> fds;
  for (;;) {
    const bool accepting = Clock::now() >= accept_paused_until;
    fds.clear();
    fds.push_back({stop_read_, POLLIN, 0});
    fds.push_back({accepting ? listen_fd_ : -1, POLLIN, 0});
    for (const Reading& r : reading) fds.push_back({r.fd, POLLIN, 0});
    int timeout = -1;
    if (!reading.empty()) {
      Clock::time_point first = reading.front().deadline;
      for (const Reading& r : reading) first = std::min(first, r.deadline);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now());
      timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 60000));
    }
    if (!accepting) timeout = timeout < 0 ? kAcceptPauseMs : std::min(timeout, kAcceptPauseMs);
    const int ready = poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && fds[0].revents != 0) break;
    const Clock::time_point now = Clock::now();

    // The connections being read: more bytes, their end, or their deadline.
    for (std::size_t i = 0; i < reading.size(); ++i) {
      Reading& r = reading[i];
      if (ready > 0 && fds[i + 2].revents != 0) {
        char buffer[kReadChunk];
        for (;;) {
          const std::size_t room = limits_.max_request_bytes + 1 - r.bytes.size();
          const ssize_t got = recv(r.fd, buffer, std::min(room, sizeof buffer), MSG_DONTWAIT);
          if (got < 0 && errno == EINTR) continue;
          if (got < 0) {
            if (errno != EAGAIN) drop(r);
            break;
          }
          if (got == 0) {
            hand_over(r, Received::kCutShort);
            break;
          }
          r.bytes.append(buffer, static_cast<std::size_t>(got));
          if (r.bytes.size() > limits_.max_request_bytes || whole(r.bytes)) {
            hand_over(r, Received::kWhole);
            break;
          }
        }
      }
      if (r.fd >= 0 && now >= r.deadline) hand_over(r, Received::kTimedOut);
    }
    reading.erase(
        std::remove_if(reading.begin(), reading.end(), [](const Reading& r) { return r.fd < 0; }),
        reading.end());

    // New connections: the user's own only, within the bound. At most a
    // bound's worth each round, so that a steady flood of them never keeps
    // the connections already taken from being read.
    if (ready > 0 && fds[1].revents != 0) {
      for (int taken = 0; taken < max_connections; ++taken) {
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno == EINTR) continue;
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
          if (!reading.empty()) {
            drop(reading.front());
            reading.pop_front();
            continue;
          }
          accept_paused_until = Clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
        }
        if (fd < 0) break;  // EAGAIN: none left
        if (!PeerIsUser(fd, uid)) {
          close(fd);
          continue;
        }
        const int out = shared->handed_out.load();
        if (static_cast<int>(reading.size()) + out >= max_connections) {
          if (reading.empty()) {
            close(fd);  // every place is taken by requests being answered
            continue;
          }
          drop(reading.front());
          reading.pop_front();
        }
        reading.push_back({fd, std::string(), Clock::now() + limits_.request_deadline});
      }
    }
  }
  for (Reading& r : reading) drop(r);
  // A stop byte is consumed so that a later Run starts afresh.
  char byte;
  while (read(stop_read_, &byte, 1) > 0) {
  }
}

}  // namespace quindelo::platform
