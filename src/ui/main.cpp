// quindelo: the window program. One instance per user: a second start hands
// its command line (a saved find to open) to the running one and ends.
#include <QApplication>
#include <QDir>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/startup.h"
#include "ui/main_frame.h"
#include "ui/native_text.h"
#include "ui/single_instance.h"
#include "ui/splash_dialog.h"
#include "ui/start_window.h"

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
  QObject::connect(&instance, &quindelo::ui::SingleInstance::savedFindReceived, &frame,
                   [&frame](const QString& path) {
                     quindelo::ui::SingleInstance::BringToFront(&frame);
                     if (!path.isEmpty()) frame.OpenSavedFind(quindelo::ui::ToNative(path));
                   });

  quindelo::ui::ShowStartedFrame(
      &frame, quindelo::ChooseShowState(quindelo::kShowNormal, quindelo::FrameShowState()),
      quindelo::ClaimQuickStartQuestion());

  const int status = QApplication::exec();
  frame.RemoveMessageSink();
  quindelo::ui::SplashDialog::CloseSplashes();
  return status;
}
