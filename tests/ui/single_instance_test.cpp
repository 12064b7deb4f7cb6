// One instance per user: a second start hands its saved find to the running
// one and ends; garbage and oversized messages are refused; a socket file
// left by a dead instance is taken over; a live instance's socket is never
// removed.
#include "ui/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/private_folder.h"
#include "ui/native_text.h"
#include "ui/qt_app.h"

namespace quindelo::ui {
namespace {

using Role = SingleInstance::Role;

// Runs a second start on a thread of its own, as a second process would:
// its blocking connect and wait for the answer must not hold up the running
// instance's event loop, which the test spins meanwhile.
Role StartElsewhere(const std::string& saved_find, const QString& path, QSignalSpy* spy) {
  Role role = Role::kAlone;
  std::thread second([&] {
    SingleInstance instance;
    role = instance.Start(saved_find, path);
  });
  if (spy) spy->wait(5000);
  second.join();
  return role;
}

// A socket file with nobody listening: bound, then the socket closed.
void MakeSocketFile(const QString& path, bool keep_bound, int* fd_out) {
  const std::string native = ToNative(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(native.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, native.c_str(), native.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  if (keep_bound) {
    *fd_out = fd;
  } else {
    close(fd);
  }
}

TEST(SingleInstanceTest, SecondStartHandsItsSavedFindToTheFirst) {
  test::QtApp();
  const QString default_path = SingleInstance::DefaultServerPath();
  EXPECT_TRUE(default_path.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quindelo-"));

  QTemporaryDir dir;
  const QString path = dir.filePath("instance");
  SingleInstance first;
  ASSERT_EQ(first.Start("", path), Role::kFirst);
  QSignalSpy received(&first, &SingleInstance::savedFindReceived);
  QWidget frame;
  first.SetFrontWindow(&frame);

  const std::string payloads[] = {
      "/home/ann/finds/notes.qnd",
      "",                                        // no arguments: only to the front
      "/home/ann/Grüße \"x\" $y;.qnd",           // any bytes but NUL travel unchanged
      "/home/ann/bad\xff\xfe.qnd",
      std::string(SingleInstance::kMaxPayload, 'a'),  // the largest message
  };
  for (const std::string& payload : payloads) {
    SCOPED_TRACE(payload.substr(0, 40));
    received.clear();
    frame.showMinimized();
    EXPECT_EQ(StartElsewhere(payload, path, &received), Role::kHandedOver);
    ASSERT_EQ(received.size(), 1);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.isMinimized());  // the running window comes to the front
    EXPECT_EQ(ToNative(received.at(0).at(0).toString()), payload);
  }
  EXPECT_TRUE(QFileInfo::exists(path));
}

// Each bad message closes its connection without a signal, and the running
// instance still takes a good one afterwards.
TEST(SingleInstanceTest, GarbageAndHugeMessagesAreRefused) {
  test::QtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("instance");
  SingleInstance first;
  ASSERT_EQ(first.Start("", path), Role::kFirst);
  QSignalSpy received(&first, &SingleInstance::savedFindReceived);

  const QByteArray header_only_huge("QND1\xff\xff\xff\xff", 8);
  QByteArray one_too_long = SingleInstance::FrameMessage(
      std::string(SingleInstance::kMaxPayload + 1, 'b'));
  QByteArray flood("QND1\x00\x00\x10\x00", 8);
  flood.append(QByteArray(4 * 1024 * 1024, 'z'));  // claims 4 KiB, sends 4 MiB
  const QByteArray cases[] = {
      QByteArray("GET / HTTP/1.0\r\n\r\n"),
      QByteArray("QND2\x00\x00\x00\x01x", 9),
      header_only_huge,
      one_too_long,
      SingleInstance::FrameMessage(std::string("/tmp/a\0b.qnd", 12)),
      SingleInstance::FrameMessage("/tmp/a.qnd") + "trailing",
      flood,
      QByteArray(1 << 20, '\0'),
  };
  for (const QByteArray& bytes : cases) {
    SCOPED_TRACE(bytes.left(12).toHex().toStdString());
    QLocalSocket client;
    client.connectToServer(path);
    ASSERT_TRUE(client.waitForConnected(5000));
    QSignalSpy closed(&client, &QLocalSocket::disconnected);
    client.write(bytes);
    ASSERT_TRUE(closed.wait(5000));
    EXPECT_EQ(received.size(), 0);
    EXPECT_NE(client.readAll(), QByteArray(1, SingleInstance::kAck));
  }
  EXPECT_EQ(StartElsewhere("/tmp/good.qnd", path, &received), Role::kHandedOver);
  ASSERT_EQ(received.size(), 1);
  EXPECT_EQ(received.at(0).at(0).toString(), QStringLiteral("/tmp/good.qnd"));
}

TEST(SingleInstanceTest, SocketLeftByADeadInstanceIsTakenOver) {
  test::QtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("instance");
  MakeSocketFile(path, false, nullptr);
  ASSERT_TRUE(QFileInfo::exists(path));

  SingleInstance first;
  ASSERT_EQ(first.Start("/tmp/own.qnd", path), Role::kFirst);
  QSignalSpy received(&first, &SingleInstance::savedFindReceived);
  EXPECT_EQ(StartElsewhere("/tmp/next.qnd", path, &received), Role::kHandedOver);
  ASSERT_EQ(received.size(), 1);
  EXPECT_EQ(received.at(0).at(0).toString(), QStringLiteral("/tmp/next.qnd"));
}

TEST(SingleInstanceTest, LiveInstancesSocketIsNeverRemoved) {
  test::QtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("instance");

  // A running instance that accepts but never answers: the start still
  // counts as handed over, and the socket stays.
  {
    QLocalServer live;
    ASSERT_TRUE(live.listen(path));
    EXPECT_EQ(StartElsewhere("/tmp/a.qnd", path, nullptr), Role::kHandedOver);
    EXPECT_TRUE(live.isListening());
    EXPECT_TRUE(QFileInfo::exists(path));
    QLocalSocket again;
    again.connectToServer(path);
    EXPECT_TRUE(again.waitForConnected(5000));
  }

  // A start that has bound the name but not yet listens holds the start
  // lock: a second start must not take the name from it.
  {
    int bound = -1;
    MakeSocketFile(path, true, &bound);
    platform::File lock;
    ASSERT_TRUE(lock.OpenAlways(ToNative(path) + ".lock", nullptr));
    SingleInstance second;
    EXPECT_EQ(second.Start("/tmp/b.qnd", path), Role::kAlone);
    EXPECT_TRUE(QFileInfo::exists(path));
    close(bound);
  }

  // Listening never replaces whatever holds the name: here a link to a
  // socket that is gone, which no connect reaches.
  {
    const QString link = dir.filePath("linked");
    ASSERT_EQ(symlink(ToNative(dir.filePath("gone")).c_str(), ToNative(link).c_str()), 0);
    SingleInstance third;
    EXPECT_EQ(third.Start("/tmp/c.qnd", link), Role::kAlone);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
  }
}

// Connections that never send a byte fill every reading slot; the next real
// hand-over still gets through, once.
TEST(SingleInstanceTest, IdleConnectionsDoNotKeepOutTheNextHandOver) {
  test::QtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("instance");
  SingleInstance first;
  ASSERT_EQ(first.Start("", path), Role::kFirst);
  QSignalSpy received(&first, &SingleInstance::savedFindReceived);

  std::vector<std::unique_ptr<QLocalSocket>> idle;
  for (int i = 0; i < 3 * SingleInstance::kMaxReading; ++i) {
    idle.push_back(std::make_unique<QLocalSocket>());
    idle.back()->connectToServer(path);
    ASSERT_TRUE(idle.back()->waitForConnected(5000));
    QCoreApplication::processEvents();  // the server accepts it
  }
  EXPECT_EQ(StartElsewhere("/tmp/real.qnd", path, &received), Role::kHandedOver);
  QCoreApplication::processEvents();
  ASSERT_EQ(received.size(), 1);
  EXPECT_EQ(received.at(0).at(0).toString(), QStringLiteral("/tmp/real.qnd"));
  // The oldest idle connections were closed to make room.
  EXPECT_EQ(idle.front()->state(), QLocalSocket::UnconnectedState);
}

// A receiver that shows a modal box for each hand-over (a nested event
// loop) while 16 more arrive: every one is delivered once, in order, and
// never while the receiver of the one before still runs.
TEST(SingleInstanceTest, HandOversDuringAModalBoxWaitTheirTurn) {
  test::QtApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("instance");
  SingleInstance first;
  ASSERT_EQ(first.Start("", path), Role::kFirst);

  constexpr int kMore = 16;
  std::vector<std::string> seen;
  int depth = 0;
  int deepest = 0;
  QObject::connect(&first, &SingleInstance::savedFindReceived, [&](const QString& find) {
    ++depth;
    deepest = std::max(deepest, depth);
    seen.push_back(ToNative(find));
    if (seen.size() == 1) {
      // The box of the first stays open while the later starts hand over.
      for (int i = 0; i < kMore; ++i) {
        std::atomic<bool> done{false};
        Role role = Role::kAlone;
        std::thread second([&] {
          SingleInstance instance;
          role = instance.Start("/tmp/later" + std::to_string(i) + ".qnd", path);
          done = true;
        });
        while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        second.join();
        EXPECT_EQ(role, Role::kHandedOver);
      }
    }
    --depth;
  });
  QSignalSpy received(&first, &SingleInstance::savedFindReceived);
  EXPECT_EQ(StartElsewhere("/tmp/first.qnd", path, &received), Role::kHandedOver);
  for (int i = 0; i < 100 && seen.size() < kMore + 1; ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  std::vector<std::string> expected = {"/tmp/first.qnd"};
  for (int i = 0; i < kMore; ++i) expected.push_back("/tmp/later" + std::to_string(i) + ".qnd");
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(deepest, 1);
}

// The socket's folder is the runtime folder only when that is the user's
// own with mode 0700; else a private folder of the program's own.
TEST(SingleInstanceTest, OnlyAPrivateRuntimeFolderHoldsTheSocket) {
  test::QtApp();
  const QByteArray saved_runtime = qgetenv("XDG_RUNTIME_DIR");
  const QByteArray saved_tmpdir = qgetenv("TMPDIR");
  QTemporaryDir runtime;
  QTemporaryDir temporary;
  const std::string folder = ToNative(runtime.path());
  qputenv("TMPDIR", temporary.path().toLocal8Bit());
  const QString own = temporary.path() + "/quindelo-runtime-" + QString::number(getuid());
  const QString link = temporary.path() + "/link";
  ASSERT_EQ(symlink(folder.c_str(), ToNative(link).c_str()), 0);

  const struct {
    mode_t mode;
    const char* use;  // the variable's value: the folder or the link
    bool used;
  } cases[] = {
      {0700, "folder", true},
      {0777, "folder", false},  // world-writable
      {01777, "folder", false},
      {0770, "folder", false},  // group-writable
      {0755, "folder", false},
      {0700, "link", false},  // a link is not the folder itself
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + c.use);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    const QString value = std::string(c.use) == "folder" ? runtime.path() : link;
    qputenv("XDG_RUNTIME_DIR", value.toLocal8Bit());
    const QString socket = SingleInstance::DefaultServerPath();
    const QString expected_folder = c.used ? runtime.path() : own;
    EXPECT_TRUE(socket.startsWith(expected_folder + "/quindelo-")) << socket.toStdString();
    EXPECT_TRUE(platform::IsPrivateFolder(ToNative(QFileInfo(socket).path()), getuid()));
  }
  // A folder of another user is not the user's, whatever its mode.
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
  EXPECT_TRUE(platform::IsPrivateFolder(folder, getuid()));
  EXPECT_FALSE(platform::IsPrivateFolder(folder, getuid() + 1));
  if (geteuid() == 0) {
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_TRUE(SingleInstance::DefaultServerPath().startsWith(own + "/quindelo-"));
    ASSERT_EQ(chown(folder.c_str(), 0, 0), 0);
  }
  // A private folder of the program's own that another user made first is
  // not used either: the program runs without the hand-over.
  ASSERT_EQ(chmod(ToNative(own).c_str(), 0777), 0);
  qputenv("XDG_RUNTIME_DIR", "");
  EXPECT_TRUE(SingleInstance::DefaultServerPath().isEmpty());
  SingleInstance alone;
  EXPECT_EQ(alone.Start("", SingleInstance::DefaultServerPath()), Role::kAlone);

  qputenv("XDG_RUNTIME_DIR", saved_runtime);
  if (saved_tmpdir.isNull()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", saved_tmpdir);
  }
}

}  // namespace
}  // namespace quindelo::ui
