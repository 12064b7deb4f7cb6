// The "Run Command" dialog: one line of at most 260 characters for the
// command line, with its prompt, OK and Cancel. Made anew for each use.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace quindelo::ui {

class RunDialog : public QDialog {
  Q_OBJECT

 public:
  RunDialog(const QString& start_text, QWidget* parent = nullptr);
  QString text() const;
  QLineEdit* line() const { return line_; }

 private:
  QLineEdit* line_ = nullptr;
};

// Shows the dialog modally with start_text; true with *text set on OK.
bool AskRunCommand(QWidget* parent, const QString& start_text, QString* text);

}  // namespace quindelo::ui
