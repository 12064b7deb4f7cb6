// quindelo-screenshot: renders the window offscreen with real results and
// saves it as a PNG (the README's picture).
//
//   QT_QPA_PLATFORM=offscreen build/bin/quindelo-screenshot docs/screenshot.png [FOLDER]
//
// The window looks at FOLDER (the repository by default) as drive Q:, with
// settings and index files in a temporary folder, types "*.h" into the
// Named box like a user, waits for the find's end and grabs the window.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/settings_store.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/results_view.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: quindelo-screenshot OUTPUT.png [FOLDER]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8().constData(), 1);
  setenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8().constData(), 1);
  setenv("XDG_RUNTIME_DIR", home.path().toUtf8().constData(), 1);
  QApplication app(argc, argv);

  const QString folder = QDir(argc > 2 ? QString::fromLocal8Bit(argv[2])
                                       : QStringLiteral(QUINDELO_SOURCE_DIR))
                             .canonicalPath();
  {
    quindelo::SettingsStore store;
    store.WriteInt("Drives", "Auto", 0);
    store.WriteString("Drives", "Q", folder.toStdString());
    store.WriteString("Controls", "LookIn", "Q:\\src");
    store.WriteInt("View", "FileType", 1);
    store.WriteInt("View", "FileSize", 1);
    store.WriteInt("View", "FileDate", 1);
    store.WriteInt("View", "SortColumn", 0);
  }

  quindelo::ui::MainFrame frame;
  frame.set_url_opener([](const QString&) {});
  frame.Start("");
  frame.resize(900, 560);
  frame.show();
  quindelo::ui::FindForm* form = frame.form();
  auto run_until = [](const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 120000) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(2);
    }
    return done();
  };
  if (!run_until([&] { return form->named_box()->isEnabled(); })) {
    std::fprintf(stderr, "quindelo-screenshot: Q: did not open: %s\n",
                 form->status_text().toUtf8().constData());
    return 1;
  }
  form->named_box()->setFocus();
  form->named_box()->lineEdit()->insert(QStringLiteral("*.h"));
  if (!run_until([&] { return form->status_text().startsWith(QStringLiteral("Found")); })) {
    std::fprintf(stderr, "quindelo-screenshot: the find did not end: %s\n",
                 form->status_text().toUtf8().constData());
    return 1;
  }
  form->results_view()->FitColumns();
  // A few rounds of the event loop, so that the list lays out its columns.
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  const QPixmap picture = frame.grab();
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "quindelo-screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %dx%d, %s\n", argv[1], picture.width(), picture.height(),
              form->status_text().toUtf8().constData());
  frame.close();
  run_until([&] { return form->closed(); });
  return 0;
}
