#include "ui/start_window.h"

#include <QAction>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include "app/startup.h"
#include "base/message_report.h"
#include "ui/main_frame.h"
#include "ui/plain_text_boxes.h"

namespace quindelo::ui {
namespace {

void AskQuickStart(MainFrame* frame) {
  const QMessageBox::StandardButton answer = AskPlainQuestion(
      frame, QString::fromUtf8(kMessageCaption), QString::fromUtf8(kQuickStartQuestion),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  if (answer == QMessageBox::Yes) frame->action(kCmdQuickStart)->trigger();
}

// Asks once the frame's window has been exposed (its first paint is due and
// the window manager has placed it), from the event loop.
class AskWhenExposed : public QObject {
 public:
  explicit AskWhenExposed(MainFrame* frame) : QObject(frame), frame_(frame) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && frame_->windowHandle() &&
        frame_->windowHandle()->isExposed()) {
      watched->removeEventFilter(this);
      AskSoon();
    }
    return false;
  }
  void AskSoon() {
    QTimer::singleShot(0, frame_, [frame = frame_] { AskQuickStart(frame); });
    deleteLater();
  }

 private:
  MainFrame* frame_;
};

}  // namespace

void ShowStartedFrame(MainFrame* frame, int show_state, bool ask_quick_start) {
  frame->ShowWithPlacement(show_state);
  frame->Greet(QString::fromUtf8(kWelcomeText));
  if (!ask_quick_start) return;
  auto* asker = new AskWhenExposed(frame);
  QWindow* window = frame->windowHandle();
  if (window == nullptr || window->isExposed())
    asker->AskSoon();
  else
    window->installEventFilter(asker);
}

}  // namespace quindelo::ui
