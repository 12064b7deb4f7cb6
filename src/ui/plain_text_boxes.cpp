#include "ui/plain_text_boxes.h"

#include <QLabel>

namespace quindelo::ui {

void MakePlain(QMessageBox* box) {
  box->setTextFormat(Qt::PlainText);
  // The box's own label takes the format set above; the informative text's
  // label is made plain too when the box has one.
  for (QLabel* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
}

void ShowPlainWarning(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
  MakePlain(&box);
  box.exec();
}

QMessageBox::StandardButton AskPlainQuestion(QWidget* parent, const QString& caption,
                                             const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton default_button) {
  QMessageBox box(QMessageBox::Question, caption, text, buttons, parent);
  MakePlain(&box);
  box.setDefaultButton(default_button);
  box.setEscapeButton(buttons & QMessageBox::Cancel ? QMessageBox::Cancel : QMessageBox::No);
  box.exec();
  const QMessageBox::StandardButton answer = box.standardButton(box.clickedButton());
  if (answer == QMessageBox::NoButton)
    return buttons & QMessageBox::Cancel ? QMessageBox::Cancel : QMessageBox::No;
  return answer;
}

QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

}  // namespace quindelo::ui
