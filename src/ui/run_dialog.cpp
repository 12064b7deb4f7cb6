#include "ui/run_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "commands/command_texts.h"

namespace quindelo::ui {

namespace {
constexpr int kMaxCommandLength = 260;
}

RunDialog::RunDialog(const QString& start_text, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("runDialog"));
  setWindowTitle(QString::fromUtf8(commands::kRunDialogCaption));
  setAccessibleName(windowTitle());
  auto* prompt = new QLabel(QString::fromUtf8(commands::kRunDialogPrompt), this);
  prompt->setWordWrap(true);
  line_ = new QLineEdit(this);
  line_->setMaxLength(kMaxCommandLength);
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

bool AskRunCommand(QWidget* parent, const QString& start_text, QString* text) {
  RunDialog dialog(start_text, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  *text = dialog.text();
  return true;
}

}  // namespace quindelo::ui
