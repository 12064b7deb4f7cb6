// Local stream sockets between the processes of one user: a server that
// takes one request per connection from peers of its own user, and the
// client side that asks it.
//
// The socket lives in a private service folder (mode 0700, owned by the
// user), so that no other user can reach it or take its name; the server
// also checks each peer's user (SO_PEERCRED on Linux) and drops the others.
// A server holds a lock file beside its socket for its whole life, so that
// a second server for the same socket refuses to start instead of taking
// the name away from the first.
//
// The server reads requests on one thread (the one that calls Run) for all
// its connections at once, each with a deadline, and never waits for a
// single peer: a peer that sends nothing, or stops in the middle, is
// dropped at its deadline, and when its connections are at their bound the
// oldest connection still being read is dropped to make room, so that a
// flood of idle connections never keeps the next good client out.
//
// Thread-safety: a LocalServer is used by one thread, except Stop, which
// any thread (and a signal handler) may call. A LocalConnection belongs to
// one thread at a time; it may be handed to another.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quindelo::platform {

// "<runtime_dir>/quindelo" when runtime_dir (the value of XDG_RUNTIME_DIR,
// may be null) is an absolute path; else empty: no service.
std::string ServiceFolderPath(const char* runtime_dir);

// Makes folder with mode 0700 when it is missing (its parent must exist).
// Fails when it exists as anything but a folder of the calling user with
// exactly the mode 0700 (a symbolic link is refused, not followed).
Status PrepareServiceFolder(const std::string& folder);

// One end of a connection; closing it (the destructor) ends the connection.
class LocalConnection {
 public:
  enum class ReadResult { kData, kEnd, kTimeout, kFailed };

  ~LocalConnection();
  LocalConnection(const LocalConnection&) = delete;
  LocalConnection& operator=(const LocalConnection&) = delete;

  // Writes every byte, waiting at most the send timeout (the server's
  // Limits, or 5 s for a client) for the peer to take each part. False when
  // the peer is gone, takes nothing for that long, or on another error;
  // write nothing more then.
  bool WriteAll(std::string_view bytes);

  // Appends what arrives within timeout to *into (at most 64 KiB a call).
  // kEnd once the peer has closed its side.
  ReadResult Read(std::string* into, std::chrono::milliseconds timeout);

 private:
  friend class LocalServer;
  friend std::unique_ptr<LocalConnection> ConnectLocal(const std::string&);
  LocalConnection(int fd, std::function<void()> on_close);

  int fd_;
  std::function<void()> on_close_;
};

// Connects to the server at socket_path when the folder that holds it is a
// private folder of the calling user and a server of the same user listens
// there. Null otherwise (no folder, no socket, nothing listening, another
// user's server): the caller does without.
std::unique_ptr<LocalConnection> ConnectLocal(const std::string& socket_path);

class LocalServer {
 public:
  struct Limits {
    // Connections at once: those being read and those handed to the
    // request handler and not closed yet. Never more than half of the
    // process's descriptor limit.
    int max_connections = 64;
    // How long a peer may take to send its whole request.
    std::chrono::milliseconds request_deadline{2000};
    // Bytes read of one request at most; a peer that sends more is handed
    // over with what was read, as a whole request (which the handler refuses).
    std::size_t max_request_bytes = 64 * 1024;
    // How long a write of the handler waits for its peer to take bytes.
    std::chrono::milliseconds send_timeout{5000};
  };

  // How the reading of a request ended.
  enum class Received {
    kWhole,     // the frame check said the bytes are whole (or past the bound)
    kCutShort,  // the peer closed its side first
    kTimedOut,  // the deadline passed first
  };
  // Whether the bytes received so far are all the request there is to read
  // (a whole request, or one already known to be refused).
  using FrameCheck = std::function<bool(std::string_view received)>;
  // Takes a request's connection and its bytes; runs on Run's thread and
  // must not wait for long (queue the work elsewhere). The connection may be
  // kept and used on another thread; it counts against max_connections
  // until it is destroyed.
  using RequestHandler =
      std::function<void(std::unique_ptr<LocalConnection>, std::string bytes, Received how)>;

  LocalServer();
  explicit LocalServer(const Limits& limits);
  // Closes the socket, removes its name and gives up the lock. Connections
  // handed out stay open until destroyed; they must not outlive the server.
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Takes the lock file "<socket_path>.lock" and listens at socket_path,
  // removing a name that an earlier server left behind. Fails with
  // kErrorFileInUse when another server holds the lock, and with the
  // system's error otherwise. REQUIRES: the folder is prepared.
  Status Listen(const std::string& socket_path);

  // Accepts, checks and reads connections and hands each request to handle,
  // until Stop. REQUIRES: Listen succeeded.
  void Run(const FrameCheck& whole, const RequestHandler& handle);

  // Makes Run return soon (now, or at once when it is called later). Any
  // thread; async-signal-safe.
  void Stop();

 private:
  struct Shared;
  const Limits limits_;
  std::shared_ptr<Shared> shared_;  // the count of connections out, kept by them too
  int listen_fd_ = -1;
  int lock_fd_ = -1;
  int stop_read_ = -1;
  int stop_write_ = -1;
  std::string socket_path_;
};

}  // namespace quindelo::platform
