#include "ui/run_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/message_report.h"
#include "commands/command_line.h"
#include "commands/command_texts.h"
#include "ui/plain_text_boxes.h"

namespace quindelo::ui {

QString CommandTooLongMessage(int length) {
  return QStringLiteral("The command line has %1 characters; at most %2 fit. Shorten it (\"%3\" "
                        "stands for each selected file).")
      .arg(length)
      .arg(kMaxRunCommandLength)
      .arg(QString::fromUtf8(commands::kFileNameCode));
}

RunDialog::RunDialog(const QString& start_text, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("runDialog"));
  setWindowTitle(QString::fromUtf8(commands::kRunDialogCaption));
  setAccessibleName(windowTitle());
  auto* prompt = PlainLabel(QString::fromUtf8(commands::kRunDialogPrompt), this);
  prompt->setWordWrap(true);
  line_ = new QLineEdit(this);
  line_->setText(start_text);
  line_->selectAll();
  QString name = prompt->text();
  line_->setAccessibleName(name.remove(QLatin1Char('&')));
  prompt->setBuddy(line_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(line_);
  layout->addWidget(buttons);
  setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 60);
}

QString RunDialog::text() const { return line_->text(); }

void RunDialog::accept() {
  if (text().size() > kMaxRunCommandLength) {
    const QString message = CommandTooLongMessage(static_cast<int>(text().size()));
    if (warn_)
      warn_(message);
    else
      ShowPlainWarning(this, QString::fromUtf8(kMessageCaption), message);
    return;
  }
  QDialog::accept();
}

bool AskRunCommand(QWidget* parent, const QString& start_text, QString* text) {
  RunDialog dialog(start_text, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  *text = dialog.text();
  return true;
}

}  // namespace quindelo::ui
