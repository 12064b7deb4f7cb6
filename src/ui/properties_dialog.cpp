#include "ui/properties_dialog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "platform/desktop_apps.h"
#include "ui/native_text.h"

namespace quindelo::ui {

namespace {

QString TimeText(const struct timespec& time) {
  const qint64 ms = static_cast<qint64>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
  return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::LongFormat);
}

}  // namespace

QString PermissionText(unsigned mode) {
  QString text;
  text += S_ISDIR(mode) ? QLatin1Char('d') : S_ISLNK(mode) ? QLatin1Char('l') : QLatin1Char('-');
  const char letters[] = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    text += (mode & (0400u >> i)) ? QLatin1Char(letters[i]) : QLatin1Char('-');
  if (mode & S_ISUID) text[3] = (mode & S_IXUSR) ? QLatin1Char('s') : QLatin1Char('S');
  if (mode & S_ISGID) text[6] = (mode & S_IXGRP) ? QLatin1Char('s') : QLatin1Char('S');
  if (mode & S_ISVTX) text[9] = (mode & S_IXOTH) ? QLatin1Char('t') : QLatin1Char('T');
  return text;
}

PropertiesDialog::PropertiesDialog(const std::vector<std::string>& native_paths, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("propertiesDialog"));
  setWindowTitle(QStringLiteral("Properties"));
  setAccessibleName(windowTitle());
  auto* form = new QFormLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  if (!native_paths.empty()) {
    const std::string& path = native_paths.front();
    AddField(QStringLiteral("Path"), FromNative(path));
    AddField(QStringLiteral("Type"), FromUtf8(platform::FileMimeType(path)));
    struct statx info = {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW,
              STATX_BASIC_STATS | STATX_BTIME, &info) == 0) {
      AddField(QStringLiteral("Size"),
               QStringLiteral("%1 bytes").arg(QLocale().toString(
                   static_cast<qulonglong>(info.stx_size))));
      const auto stamp = [](const struct statx_timestamp& t) {
        return TimeText(timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)});
      };
      AddField(QStringLiteral("Modified"), stamp(info.stx_mtime));
      AddField(QStringLiteral("Accessed"), stamp(info.stx_atime));
      if (info.stx_mask & STATX_BTIME) AddField(QStringLiteral("Created"), stamp(info.stx_btime));
      AddField(QStringLiteral("Permissions"), PermissionText(info.stx_mode));
      AddField(QStringLiteral("Owner"),
               QStringLiteral("%1:%2").arg(info.stx_uid).arg(info.stx_gid));
    } else {
      AddField(QStringLiteral("Size"), QStringLiteral("The file cannot be read."));
    }
    if (native_paths.size() > 1)
      AddField(QStringLiteral("Selected"),
               QStringLiteral("%1 files (the first is shown)").arg(native_paths.size()));
  }
  for (const auto& [label, value] : fields_) {
    auto* shown = new QLabel(value, this);
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    shown->setTextFormat(Qt::PlainText);
    shown->setAccessibleName(label);
    form->addRow(label + QLatin1Char(':'), shown);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void PropertiesDialog::AddField(const QString& label, const QString& value) {
  fields_.emplace_back(label, value);
}

QString PropertiesDialog::Field(const QString& label) const {
  for (const auto& [name, value] : fields_)
    if (name == label) return value;
  return QString();
}

}  // namespace quindelo::ui
