// The splash window and the about box: one dialog with the program's
// picture at the top and a centred block of text naming the product and its
// version. As the splash it is modeless, stays on top, has no OK button and
// closes itself five seconds after it opened; as the about box it is modal
// and closes with OK.
//
// How main.cpp and the frame use it:
//   - at start-up, when quindelo::ClaimSplashDay() (app/startup.h) says so:
//       SplashDialog::ShowSplash();   // returns at once; the splash deletes
//                                     // itself when its time is up
//     a splash still open when the program ends is deleted with the
//     application (ShowSplash parents it to nothing and main.cpp may call
//     SplashDialog::CloseSplashes() before returning);
//   - Help > "&About Quindelo...": SplashDialog::ShowAbout(frame);
//   - the frame's window icon: SplashDialog::ProgramIcon().
//
// Threads: GUI thread only.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>

namespace quindelo::ui {

// The product's texts.
inline constexpr char kProductName[] = "Pemblet Quindelo";
inline constexpr char kProductVersion[] = "2.1";
inline constexpr char kBuildKind[] = "Release";
inline constexpr int kBuildNumber = 2;
inline constexpr char kBuildDate[] = "Sep  2 1997";
inline constexpr char kBuildTime[] = "22:01:32";
// How long the splash stays.
inline constexpr int kSplashMilliseconds = 5000;

class SplashDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { kSplash, kAbout };

  // The dialog of one mode; ShowSplash and ShowAbout are the usual way in.
  explicit SplashDialog(Mode mode, QWidget* parent = nullptr);

  // Shows the splash: modeless, on top, deleted once kSplashMilliseconds
  // have passed. The pointer turns null when it is gone.
  static QPointer<SplashDialog> ShowSplash(QWidget* parent = nullptr);
  // Deletes every splash still open (at the program's end).
  static void CloseSplashes();
  // Shows the about box modally; returns when OK closes it.
  static void ShowAbout(QWidget* parent);

  // "Pemblet Quindelo version 2.1" and a line break; then, only when the
  // build kind is not empty and is not "Release" (any case), a line with the
  // build kind, number, date and time.
  static QString ProductText(const QString& build_kind = QString::fromLatin1(kBuildKind));

  // The program's own picture (top of this dialog) and icon; null pictures
  // when the resources are missing.
  static QPixmap Picture();
  static QIcon ProgramIcon();

  Mode mode() const { return mode_; }

 private:
  Mode mode_;
};

}  // namespace quindelo::ui
