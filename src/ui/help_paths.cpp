#include "ui/help_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quindelo::ui {

QString QuickStartPagePath(const QString& application_dir) {
  const QString file = QString::fromLatin1(kQuickStartFile);
  QStringList candidates;
  if (!application_dir.isEmpty()) {
    candidates << QDir(application_dir)
                      .filePath(QStringLiteral("../") + QString::fromLatin1(kInstalledHelpFolder) +
                                QLatin1Char('/') + file);
  }
#ifdef QUINDELO_SOURCE_DATA_DIR
  candidates << QStringLiteral(QUINDELO_SOURCE_DATA_DIR "/") + file;
#endif
  for (const QString& candidate : candidates) {
    const QFileInfo info(candidate);
    if (info.isFile()) return info.canonicalFilePath();
  }
  return QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                QStringLiteral("quindelo/help/") + file);
}

QUrl QuickStartUrl(const QString& topic) {
  const QString path = QuickStartPagePath(QCoreApplication::applicationDirPath());
  if (path.isEmpty()) return QUrl();
  QUrl url = QUrl::fromLocalFile(path);
  if (!topic.isEmpty()) url.setFragment(topic);
  return url;
}

}  // namespace quindelo::ui
