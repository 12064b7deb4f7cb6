// The splash and the about box: one dialog, its texts and the splash's own
// end.
#include "ui/splash_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "ui/qt_app.h"

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

}  // namespace
}  // namespace quindelo::ui
