// Another program's open dialog made by Qt itself (not the desktop's): a
// window with a modal QFileDialog over it, as QFileDialog::getOpenFileName
// shows one, with a "Text Documents (*.txt)" filter. Prints the chosen path
// when the dialog is accepted.
#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
  // On the accessibility bus even where no screen reader asked for it.
  qputenv("QT_ACCESSIBILITY", "1");
  qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Editor"));
  window.show();
  QTimer::singleShot(0, &window, [&window] {
    const QString path = QFileDialog::getOpenFileName(
        &window, QStringLiteral("Open File"), QString(),
        QStringLiteral("Text Documents (*.txt);;All Files (*)"), nullptr,
        QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty()) std::printf("%s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
    QApplication::quit();
  });
  return app.exec();
}
