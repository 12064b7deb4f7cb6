// The "Run Command" dialog: one line of at most 260 characters for the
// command line, with its prompt, OK and Cancel. Made anew for each use. A
// text that does not fit (the starting text, a paste) is shown whole and
// never cut; OK refuses it with a message and keeps the dialog open.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;

namespace quindelo::ui {

class RunDialog : public QDialog {
  Q_OBJECT

 public:
  RunDialog(const QString& start_text, QWidget* parent = nullptr);
  QString text() const;
  QLineEdit* line() const { return line_; }
  // Where OK's refusal goes (a warning box over the dialog unless replaced).
  void set_warning_handler(std::function<void(const QString&)> warn) { warn_ = std::move(warn); }
  void accept() override;

 private:
  QLineEdit* line_ = nullptr;
  std::function<void(const QString&)> warn_;
};

// The longest command line the dialog takes, and the message for a longer
// one.
inline constexpr int kMaxRunCommandLength = 260;
QString CommandTooLongMessage(int length);

// Shows the dialog modally with start_text; true with *text set on OK.
bool AskRunCommand(QWidget* parent, const QString& start_text, QString* text);

}  // namespace quindelo::ui
