// The splash and the about box: one dialog, its texts and the splash's own
// end; the start's greeting and first-run question, on a desktop without a
// web browser.
#include "ui/splash_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/settings_store.h"
#include "app/startup.h"
#include "search/find_request.h"
#include "support/fake_desktop.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/qt_app.h"
#include "ui/run_until.h"
#include "ui/start_window.h"

namespace quindelo::ui {
namespace {

TEST(SplashTest, ProductTextShowsTheBuildLineOnlyOutsideReleaseBuilds) {
  test::QtApp();
  struct Case {
    const char* kind;
    const char* text;
  };
  const Case cases[] = {
      {"Release", "Pemblet Quindelo version 2.1\n"},
      {"RELEASE", "Pemblet Quindelo version 2.1\n"},
      {"", "Pemblet Quindelo version 2.1\n"},
      {"Beta", "Pemblet Quindelo version 2.1\nBeta 2, built Sep  2 1997 22:01:32\n"},
      {"Debug", "Pemblet Quindelo version 2.1\nDebug 2, built Sep  2 1997 22:01:32\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplashDialog::ProductText(QString::fromLatin1(c.kind)), QString::fromLatin1(c.text))
        << c.kind;
  }
}

TEST(SplashTest, BothModesShowThePictureAndTextAboutAloneHasOk) {
  test::QtApp();
  struct Case {
    SplashDialog::Mode mode;
    bool ok_button;
    bool on_top;
  };
  const Case cases[] = {{SplashDialog::Mode::kSplash, false, true},
                        {SplashDialog::Mode::kAbout, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ok_button ? "about" : "splash");
    SplashDialog dialog(c.mode);
    const auto* picture = dialog.findChild<QLabel*>("picture");
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull());  // the program's own picture is built in
    const auto* text = dialog.findChild<QLabel*>("productText");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), QStringLiteral("Pemblet Quindelo version 2.1\n"));
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
    EXPECT_EQ(buttons.size(), c.ok_button ? 1 : 0);
    if (c.ok_button) {
      EXPECT_EQ(buttons[0]->text(), QStringLiteral("OK"));
      EXPECT_TRUE(buttons[0]->isDefault());
    }
    EXPECT_EQ(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.on_top);
  }
  EXPECT_FALSE(SplashDialog::ProgramIcon().isNull());
}

TEST(SplashTest, SplashGoesAwayOnItsOwnAndAtTheEnd) {
  test::QtApp();
  QPointer<SplashDialog> splash = SplashDialog::ShowSplash();
  ASSERT_FALSE(splash.isNull());
  EXPECT_TRUE(splash->isVisible());
  EXPECT_FALSE(splash->isModal());
  const auto* timer = splash->findChild<QTimer*>("splashTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), kSplashMilliseconds);
  EXPECT_TRUE(timer->isActive());
  QSignalSpy gone(splash.data(), &QObject::destroyed);
  ASSERT_TRUE(gone.wait(kSplashMilliseconds + 10000));
  EXPECT_TRUE(splash.isNull());

  // One still open at the program's end is deleted then.
  QPointer<SplashDialog> late = SplashDialog::ShowSplash();
  SplashDialog::CloseSplashes();
  EXPECT_TRUE(late.isNull());
}

// The start as the program runs it: the greeting is in the message pane
// when the frame is first on the screen and stays there through the start's
// own validation; then the first-run question, centred on the frame, its
// child; Yes opens Quick Start, which on a desktop without a browser says
// so. The user's first key hands the pane back to the find.
TEST(SplashTest, StartGreetsThenAsksQuickStartOverTheFrame) {
  test::InstallFakeDesktop(test::FakeBrowser::kNone);
  test::QtApp();
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/one.txt", "1");
  SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
  MainFrame frame(test::QuickOptions());
  frame.InstallMessageSink();
  frame.Start("");

  struct Seen {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QWidget* parent;
    QPoint centre;
    QString pane;
    bool frame_exposed;
  };
  std::vector<Seen> seen;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible()) continue;
      seen.push_back({box->text(), box->windowTitle(), box->icon(), box->parentWidget(),
                      box->frameGeometry().center(), frame.message_pane()->text(),
                      frame.windowHandle() && frame.windowHandle()->isExposed()});
      QTest::keyClick(box, Qt::Key_Return);  // Yes, then OK
      return;
    }
  });
  user.start(5);
  ShowStartedFrame(&frame, kShowNormal, true);
  EXPECT_EQ(frame.message_pane()->text(), QString::fromUtf8(kWelcomeText));
  ASSERT_TRUE(test::RunUntil([&] { return seen.size() >= 2; }));
  user.stop();

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, QString::fromUtf8(kQuickStartQuestion));
  EXPECT_EQ(seen[0].caption, "Pemblet Quindelo");
  EXPECT_EQ(seen[0].icon, QMessageBox::Question);
  EXPECT_EQ(seen[0].parent, &frame);
  EXPECT_TRUE(seen[0].frame_exposed);
  EXPECT_EQ(seen[0].pane, QString::fromUtf8(kWelcomeText));
  const QPoint off = seen[0].centre - frame.frameGeometry().center();
  EXPECT_LE(off.manhattanLength(), 8) << off.x() << "," << off.y();
  EXPECT_EQ(seen[1].text, "No association for HTML files.  Do you have an web browser installed?");
  EXPECT_EQ(seen[1].caption, "Pemblet Quindelo");
  EXPECT_EQ(seen[1].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[1].parent, &frame);

  // The start's validation and the index's first walk have ended ("Ready."
  // and a blank indicator): the greeting stays, and the pane is known to
  // accessibility by it.
  FindForm* form = frame.form();
  ASSERT_TRUE(test::RunUntil([&] {
    return form->validator()->passes() > 0 && form->named_box()->isEnabled() &&
           form->status_text() == "Ready." && frame.indicator_pane()->text() == " ";
  })) << frame.indicator_pane()->text().toStdString();
  QApplication::processEvents();
  EXPECT_EQ(frame.message_pane()->text(), QString::fromUtf8(kWelcomeText));
  QAccessibleInterface* pane = QAccessible::queryAccessibleInterface(frame.message_pane());
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(pane->text(QAccessible::Name), QString::fromUtf8(kWelcomeText));

  // A key of the user's: the find's texts show again.
  QLineEdit* look_in = form->look_in_box()->lineEdit();
  look_in->setFocus();
  look_in->end(false);
  QTest::keyClick(look_in, Qt::Key_Backslash);
  ASSERT_TRUE(test::RunUntil([&] { return frame.message_pane()->text() == "Ready."; }));
  EXPECT_EQ(pane->text(QAccessible::Name), "Ready.");

  frame.RemoveMessageSink();
  frame.set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
  frame.close();
  ASSERT_TRUE(test::RunUntil([&] { return form->closed(); }));
}

}  // namespace
}  // namespace quindelo::ui
