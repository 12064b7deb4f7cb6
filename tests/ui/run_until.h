// Runs the window test's event loop until a condition holds; and shows a
// window and moves the focus as a user does, waiting until it is so.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace quindelo::test {

// Runs the event loop until done() holds; false when a minute passed first
// (a hung window, not a slow one).
inline bool RunUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 60000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

// Shows window as the active window, as a user meets it: window shortcuts
// then work and focus changes are real.
inline void ShowActive(QWidget* window) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

// Gives control the focus and waits until it (or a child of it) has it.
inline void FocusOn(QWidget* control) {
  control->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(RunUntil([&] {
    QWidget* focus = QApplication::focusWidget();
    return focus && (focus == control || control->isAncestorOf(focus));
  }));
}

}  // namespace quindelo::test
