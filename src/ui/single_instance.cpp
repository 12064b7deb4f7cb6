#include "ui/single_instance.h"

#include <pwd.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/private_folder.h"
#include "ui/native_text.h"

namespace quindelo::ui {
namespace {

// How long a start waits for each step of the hand-over; a live instance
// answers within milliseconds, so these only bound a hung one.
constexpr int kConnectWaitMs = 1000;
constexpr int kReplyWaitMs = 2000;
constexpr int kLockWaitMs = 3000;
constexpr int kListenAttempts = 3;

QString UserName() {
  std::string name;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_name && found->pw_name[0] != '\0' && std::strchr(found->pw_name, '/') == nullptr) {
    name = found->pw_name;
  } else {
    name = std::to_string(getuid());
  }
  return FromNative(name);
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultServerPath() {
  // A folder another user can write to would let that user bind the name
  // first and receive the hand-overs.
  const std::string folder = platform::PrivateRuntimeFolder(getenv("XDG_RUNTIME_DIR"));
  if (folder.empty()) return QString();
  return FromNative(folder == "/" ? std::string() : folder) + QStringLiteral("/quindelo-") +
         UserName();
}

QByteArray SingleInstance::FrameMessage(const std::string& payload) {
  const std::string message = FrameHandOverMessage(payload);
  return QByteArray(message.data(), static_cast<qsizetype>(message.size()));
}

SingleInstance::Role SingleInstance::Start(const std::string& saved_find) {
  return Start(saved_find, DefaultServerPath());
}

SingleInstance::Role SingleInstance::Start(const std::string& saved_find,
                                           const QString& server_path) {
  server_path_ = server_path;
  if (!server_path.startsWith(QLatin1Char('/'))) return Role::kAlone;
  // Held from the first connect until listening: another start waits here,
  // so a socket file that refuses while we hold the lock has no owner.
  platform::File lock;
  const bool locked = lock.OpenAlways(ToNative(server_path) + ".lock", nullptr, kLockWaitMs).ok();

  for (int attempt = 0; attempt < kListenAttempts; ++attempt) {
    QLocalSocket probe;
    probe.connectToServer(server_path);
    if (probe.waitForConnected(kConnectWaitMs)) {
      // A running instance answers: it gets the command line, whether or not
      // its acknowledgement arrives in time; this start never shows a window.
      probe.write(FrameMessage(saved_find));
      probe.flush();
      if (probe.waitForBytesWritten(kReplyWaitMs) || probe.bytesToWrite() == 0)
        probe.waitForReadyRead(kReplyWaitMs);
      probe.disconnectFromServer();
      return Role::kHandedOver;
    }
    switch (probe.error()) {
      case QLocalSocket::ServerNotFoundError:
        break;  // no socket file: nobody runs
      case QLocalSocket::ConnectionRefusedError:
        // A socket file nobody listens on: left by an instance that died.
        // Without the lock it might be a start between binding and
        // listening, so it is left alone then.
        if (!locked) return Role::kAlone;
        QLocalServer::removeServer(server_path);
        break;
      default:
        return Role::kAlone;  // e.g. a live instance too busy to accept
    }
    // No socket options: with any of them Qt binds elsewhere and renames the
    // socket over the name, which would replace a socket that another start
    // bound meanwhile. The runtime folder is the user's own (mode 0700).
    auto* server = new QLocalServer(this);
    if (server->listen(server_path)) {
      server_ = server;
      connect(server_, &QLocalServer::newConnection, this, &SingleInstance::AcceptConnections);
      return Role::kFirst;
    }
    const bool in_use = server->serverError() == QAbstractSocket::AddressInUseError;
    delete server;
    if (!in_use) return Role::kAlone;
    // Someone bound the name meanwhile: connect again.
  }
  return Role::kAlone;
}

void SingleInstance::AcceptConnections() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    socket->setParent(this);
    // The connection that has waited longest makes room: a flood of idle
    // connections cannot hold out the next real one.
    while (!reading_.empty() && (!reading_.front() ||
                                 static_cast<int>(reading_.size()) >= kMaxReading)) {
      QPointer<QLocalSocket> oldest = reading_.front();
      reading_.pop_front();
      if (oldest) Drop(oldest);
    }
    reading_.push_back(socket);
    socket->setProperty("quindelo_message", QByteArray());
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that has not finished its message in time is dropped.
    QTimer::singleShot(kIdleDropMs, socket, [this, socket] {
      if (!socket->property("quindelo_done").toBool()) Drop(socket);
    });
    if (socket->bytesAvailable() > 0) ReadFrom(socket);
  }
}

void SingleInstance::Drop(QLocalSocket* socket) {
  socket->setProperty("quindelo_done", true);
  for (auto it = reading_.begin(); it != reading_.end(); ++it) {
    if (*it == socket) {
      reading_.erase(it);
      break;
    }
  }
  socket->abort();
  socket->deleteLater();
}

void SingleInstance::ReadFrom(QLocalSocket* socket) {
  if (socket->property("quindelo_done").toBool()) {
    socket->readAll();  // bytes after a complete message are ignored
    return;
  }
  QByteArray message = socket->property("quindelo_message").toByteArray();
  const auto limit = static_cast<qsizetype>(kHandOverMaxMessage);
  message += socket->read(limit + 1 - message.size());
  std::string payload;
  const HandOverParse parse = ParseHandOverMessage(
      std::string_view(message.constData(), static_cast<std::size_t>(message.size())), &payload);
  if (parse == HandOverParse::kRefused ||
      (parse == HandOverParse::kComplete && socket->bytesAvailable() > 0))
    return Drop(socket);
  if (parse == HandOverParse::kIncomplete) {
    socket->setProperty("quindelo_message", message);
    return;
  }
  socket->setProperty("quindelo_message", QByteArray());
  socket->setProperty("quindelo_done", true);
  for (auto it = reading_.begin(); it != reading_.end(); ++it) {
    if (*it == socket) {
      reading_.erase(it);
      break;
    }
  }
  socket->write(&kAck, 1);
  socket->flush();
  socket->disconnectFromServer();
  Deliver(FromNative(payload));
}

void SingleInstance::Deliver(const QString& path) {
  if (static_cast<int>(queued_.size()) >= kMaxQueued) return;
  queued_.push_back(path);
  // A receiver running a nested event loop (a modal box) may get here
  // again: the hand-over then waits for the receiver to return.
  if (delivering_) return;
  delivering_ = true;
  QPointer<SingleInstance> self(this);
  while (!queued_.empty()) {
    const QString next = queued_.front();
    queued_.pop_front();
    BringToFront(front_window_);
    emit savedFindReceived(next);
    if (!self) return;  // a receiver ended this object
  }
  delivering_ = false;
}

void SingleInstance::SetFrontWindow(QWidget* window) { front_window_ = window; }

void SingleInstance::BringToFront(QWidget* window) {
  if (!window) return;
  if (window->isMinimized())
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace quindelo::ui
