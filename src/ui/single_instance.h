// One running window program per user. The first start listens on a local
// socket named after the user in $XDG_RUNTIME_DIR; a later start connects
// there, hands over its command line (the saved find it names, or nothing)
// and ends without a window, while the running one opens that find and
// comes to the front.
//
// How main.cpp uses it, right after the QApplication exists and before any
// window is made:
//
//   quindelo::ui::SingleInstance instance;
//   const std::string saved_find = quindelo::CommandLineSavedFind(args, cwd);
//   switch (instance.Start(saved_find)) {
//     case SingleInstance::Role::kHandedOver: return 0;   // the running one has it
//     case SingleInstance::Role::kFirst:
//     case SingleInstance::Role::kAlone: break;           // go on starting
//   }
//   ... make the frame ...
//   instance.SetFrontWindow(&frame);   // comes to the front at each hand-over
//   QObject::connect(&instance, &SingleInstance::savedFindReceived, &frame,
//                    [&](const QString& path) { if (!path.isEmpty()) open it; });
//
// Hand-over message: app/hand_over_message.h (ParseHandOverMessage). The
// running instance answers one byte kAck. Anything else (another magic, a
// length beyond the bound, a NUL, bytes after the payload, a peer that has
// not finished its message after kIdleDropMs) closes the connection without
// a signal. At most kMaxReading connections are read at once; one more
// closes the one that has waited longest, so idle connections cannot keep a
// real hand-over out.
//
// Each hand-over is delivered once, in the order received, and never while
// a receiver of the previous one is still running: a receiver that shows a
// modal box (a nested event loop) finishes before the next hand-over,
// which waits in a queue meanwhile, is delivered.
//
// Threads: GUI thread only (the socket notifiers run in its event loop).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <string>

#include "app/hand_over_message.h"

class QLocalServer;
class QLocalSocket;

namespace quindelo::ui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  static constexpr std::uint32_t kMaxPayload = kHandOverMaxPayload;
  static constexpr char kAck = 0x06;
  static constexpr int kIdleDropMs = 2000;
  static constexpr int kMaxReading = 16;
  // Hand-overs waiting for the receiver; more are dropped.
  static constexpr int kMaxQueued = 256;

  enum class Role {
    kFirst,       // this process listens: it is the running instance now
    kHandedOver,  // another instance answered and has the command line: end
    kAlone,       // neither could be settled (no runtime folder, a socket that
                  // neither answers nor refuses): run without the hand-over
  };

  explicit SingleInstance(QObject* parent = nullptr);
  ~SingleInstance() override;

  // The socket's full path for this user: $XDG_RUNTIME_DIR/quindelo-<user>
  // when that folder is the user's own with mode 0700, else the same name in
  // a private folder of the program's own (platform::PrivateRuntimeFolder);
  // empty when there is none (Start then runs alone).
  static QString DefaultServerPath();

  // Connects to the running instance; when one answers, sends saved_find
  // (native path bytes, may be empty) and returns kHandedOver. When nothing
  // answers, listens, so that this process becomes the running instance. A
  // socket file that refuses connections is left over from an instance that
  // died: it is removed and listening retried. A socket a live instance
  // answers on is never removed. The connect and listen steps run under a
  // lock file beside the socket so that two starts at once cannot both
  // decide they are first. Blocks for at most a few seconds. Call once.
  Role Start(const std::string& saved_find);
  // The same on another socket path (tests).
  Role Start(const std::string& saved_find, const QString& server_path);

  // The path listened on or handed over to.
  const QString& server_path() const { return server_path_; }

  // The window brought to the front (BringToFront) when a later start hands
  // over, before savedFindReceived is emitted. May be null; not owned.
  void SetFrontWindow(QWidget* window);

  // Restores a minimised window, raises it and makes it active.
  static void BringToFront(QWidget* window);

  // The framed message for a payload (what Start sends), exposed for tests.
  static QByteArray FrameMessage(const std::string& payload);

 signals:
  // A later start handed over its command line: the saved find's native
  // path (FromNative; ToNative gives the bytes back), empty when it named
  // none. The receiver brings its window to the front and opens the find.
  void savedFindReceived(const QString& path);

 private:
  bool HandOver(const std::string& saved_find);
  void AcceptConnections();
  void ReadFrom(QLocalSocket* socket);
  void Drop(QLocalSocket* socket);
  void Deliver(const QString& path);

  QString server_path_;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> front_window_;
  // Connections still being read, oldest first.
  std::deque<QPointer<QLocalSocket>> reading_;
  std::deque<QString> queued_;
  bool delivering_ = false;
};

}  // namespace quindelo::ui
