#include "ui/single_instance.h"

#include <pwd.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <cstring>

#include "platform/file.h"
#include "ui/native_text.h"

namespace quindelo::ui {
namespace {

// How long a start waits for each step of the hand-over; a live instance
// answers within milliseconds, so these only bound a hung one.
constexpr int kConnectWaitMs = 1000;
constexpr int kReplyWaitMs = 2000;
constexpr int kLockWaitMs = 3000;
// Connections being read at once; more are closed at once (each holds at
// most one message).
constexpr int kMaxPendingConnections = 16;
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

std::uint32_t BigEndian32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 |
         std::uint32_t{b[3]};
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultServerPath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!folder.startsWith(QLatin1Char('/'))) {
    // Qt makes a private (0700) folder of its own when the variable is unset.
    folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  }
  while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
  return folder + QStringLiteral("/quindelo-") + UserName();
}

QByteArray SingleInstance::FrameMessage(const std::string& payload) {
  QByteArray message(kMagic, sizeof kMagic);
  const auto size = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) message.append(static_cast<char>(size >> shift));
  message.append(payload.data(), static_cast<qsizetype>(payload.size()));
  return message;
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
  const bool locked = lock.OpenAlways(ToNative(server_path) + ".lock", nullptr, kLockWaitMs);

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
    const int pending = findChildren<QLocalSocket*>(QString(), Qt::FindDirectChildrenOnly).size();
    socket->setParent(this);
    if (pending >= kMaxPendingConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    socket->setProperty("quindelo_message", QByteArray());
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that never finishes its message is dropped.
    QTimer::singleShot(kIdleDropMs, socket, [socket] {
      socket->abort();
      socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0) ReadFrom(socket);
  }
}

void SingleInstance::ReadFrom(QLocalSocket* socket) {
  if (socket->property("quindelo_done").toBool()) {
    socket->readAll();  // bytes after a complete message are ignored
    return;
  }
  QByteArray message = socket->property("quindelo_message").toByteArray();
  const qsizetype limit = kHeaderSize + static_cast<qsizetype>(kMaxPayload);
  message += socket->read(limit + 1 - message.size());
  auto refuse = [socket] {
    socket->setProperty("quindelo_done", true);
    socket->abort();
    socket->deleteLater();
  };
  const qsizetype magic_bytes = std::min<qsizetype>(message.size(), sizeof kMagic);
  if (std::memcmp(message.constData(), kMagic, static_cast<std::size_t>(magic_bytes)) != 0 ||
      message.size() > limit) {
    return refuse();
  }
  if (message.size() < kHeaderSize) {
    socket->setProperty("quindelo_message", message);
    return;
  }
  const std::uint32_t length = BigEndian32(message.constData() + sizeof kMagic);
  if (length > kMaxPayload) return refuse();
  const qsizetype total = kHeaderSize + static_cast<qsizetype>(length);
  if (message.size() < total) {
    socket->setProperty("quindelo_message", message);
    return;
  }
  if (message.size() > total || socket->bytesAvailable() > 0) return refuse();
  const QByteArray payload = message.mid(kHeaderSize);
  if (payload.contains('\0')) return refuse();
  socket->setProperty("quindelo_done", true);
  socket->setProperty("quindelo_message", QByteArray());
  socket->write(&kAck, 1);
  socket->flush();
  socket->disconnectFromServer();
  BringToFront(front_window_);
  emit savedFindReceived(FromNative(payload.toStdString()));
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
