// quindelo: the window program. One instance per user: a second start hands
// its command line (a saved find to open) to the running one and ends.
#include <QApplication>
#include <QDir>
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/startup.h"
#include "ui/main_frame.h"
#include "ui/native_text.h"
#include "ui/single_instance.h"
#include "ui/splash_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quindelo"));
  QApplication::setOrganizationName(QStringLiteral("Pemblet Software"));

  std::vector<std::string> arguments;
  const QStringList qt_left = QApplication::arguments();
  for (qsizetype i = 1; i < qt_left.size(); ++i)
    arguments.push_back(quindelo::ui::ToNative(qt_left[i]));
  const std::string saved_find =
      quindelo::CommandLineSavedFind(arguments, quindelo::ui::ToNative(QDir::currentPath()));

  quindelo::ui::SingleInstance instance;
  if (instance.Start(saved_find) == quindelo::ui::SingleInstance::Role::kHandedOver) return 0;

  if (quindelo::ClaimSplashDay()) quindelo::ui::SplashDialog::ShowSplash();
  quindelo::StartupFolders folders;
  quindelo::SettleStartupFolder(&folders);

  quindelo::ui::MainFrame frame;
  frame.InstallMessageSink();
  frame.Start(saved_find);
  frame.ShowWithPlacement(
      quindelo::ChooseShowState(quindelo::kShowNormal, quindelo::FrameShowState()));
  frame.message_pane()->setText(QString::fromUtf8(quindelo::kWelcomeText));
  QObject::connect(&instance, &quindelo::ui::SingleInstance::savedFindReceived, &frame,
                   [&frame](const QString& path) {
                     quindelo::ui::SingleInstance::BringToFront(&frame);
                     if (!path.isEmpty()) frame.OpenSavedFind(quindelo::ui::ToNative(path));
                   });

  if (quindelo::ClaimQuickStartQuestion()) {
    const auto answer = QMessageBox::question(
        &frame, QStringLiteral("Pemblet Quindelo"),
        QString::fromUtf8(quindelo::kQuickStartQuestion), QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
      frame.action(quindelo::ui::kCmdQuickStart)->trigger();
  }

  const int status = QApplication::exec();
  frame.RemoveMessageSink();
  quindelo::ui::SplashDialog::CloseSplashes();
  return status;
}
