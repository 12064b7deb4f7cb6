#include "ui/file_operation_dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/message_report.h"
#include "commands/command_texts.h"
#include "platform/paths.h"
#include "ui/native_text.h"
#include "ui/plain_text_boxes.h"

namespace quindelo::ui {

FolderPicker QtFolderPicker() {
  return [](QWidget* parent, const QString& title) {
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
  };
}

QString NotOnDriveMessage(const QString& native_folder) {
  return QStringLiteral("The folder \"%1\" is not on any drive. Choose a folder on one of the "
                        "drives of the Look in list.")
      .arg(native_folder);
}

QString TextTooLongMessage(const QString& text) {
  return QStringLiteral("The text \"%1\" is longer than %2 characters. Choose a shorter one.")
      .arg(text)
      .arg(kMaxOperationTextLength);
}

bool BrowseForFolder(QWidget* parent, const FolderPicker& picker, const QString& title,
                     std::string* drive_path, QString* problem) {
  problem->clear();
  const QString chosen = picker ? picker(parent, title) : QString();
  if (chosen.isEmpty()) return false;
  std::string drive;
  if (!platform::ToDrivePath(ToNative(chosen), &drive)) {
    *problem = NotOnDriveMessage(chosen);
    return false;
  }
  *drive_path = drive;
  return true;
}

FileOperationDialog::FileOperationDialog(Kind kind, QWidget* parent)
    : QDialog(parent), picker_(QtFolderPicker()) {
  const bool destination = kind == Kind::kDestination;
  setWindowTitle(QString::fromUtf8(destination ? commands::kDestinationDialogCaption
                                               : commands::kRenameDialogCaption));
  setAccessibleName(windowTitle().trimmed());
  const QString prompt = QString::fromUtf8(destination ? commands::kDestinationDialogPrompt
                                                       : commands::kRenameDialogPrompt);
  auto* label = PlainLabel(prompt, this);
  label->setWordWrap(true);
  edit_ = new QLineEdit(this);
  label->setBuddy(edit_);
  edit_->setAccessibleName(QString(prompt).remove(QLatin1Char('&')));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  if (destination) {
    browse_ = buttons->addButton(QStringLiteral("&Browse..."), QDialogButtonBox::ActionRole);
    browse_->setAccessibleName(QStringLiteral("Browse..."));
    connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  }
  warn_ = [this](const QString& text) {
    ShowPlainWarning(this, QString::fromUtf8(kMessageCaption), text);
  };
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  setMinimumWidth(420);
}

QString FileOperationDialog::text() const { return edit_->text(); }

void FileOperationDialog::Browse() {
  std::string drive_path;
  QString problem;
  if (BrowseForFolder(this, picker_, QString::fromUtf8(commands::kBrowseTitle), &drive_path,
                      &problem)) {
    const QString folder = FromNative(drive_path);
    if (folder.size() <= kMaxOperationTextLength)
      edit_->setText(folder);
    else if (warn_)
      warn_(TextTooLongMessage(folder));
  } else if (!problem.isEmpty() && warn_) {
    warn_(problem);
  }
}

}  // namespace quindelo::ui

namespace quindelo::ui {

void FileOperationDialog::accept() {
  if (text().size() > kMaxOperationTextLength) {
    if (warn_) warn_(TextTooLongMessage(text()));
    return;
  }
  QDialog::accept();
}

}  // namespace quindelo::ui
