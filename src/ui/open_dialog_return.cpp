#include "platform/thread_name.h"
#include "ui/open_dialog_return.h"

#include <unistd.h>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QPushButton>

#include "commands/command_texts.h"
#include "ui/file_clipboard.h"
#include "ui/find_form.h"
#include "ui/native_text.h"
#include "ui/results_view.h"

namespace quindelo::ui {

namespace {

// Calls into a program that does not answer give up after this long.
constexpr int kBusCallTimeoutMs = 1000;

}  // namespace

OpenDialogReturn::OpenDialogReturn(FindForm* form, std::function<void(const QString&)> warn,
                                   std::function<void()> minimize, DesktopFactory factory)
    : QObject(form),
      form_(form),
      warn_(std::move(warn)),
      minimize_(std::move(minimize)),
      factory_(std::move(factory)) {
  if (!factory_) factory_ = [] { return commands::MakeAccessibilityBusDesktop(kBusCallTimeoutMs); };
  connect(form_->return_button(), &QPushButton::clicked, this,
          &OpenDialogReturn::ReturnSelectedFile);
  // The selection changes by the user, by the status line's rewrite after a
  // command, and silently when the list is emptied or re-sorted.
  ResultsView* list = form_->results_view();
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &OpenDialogReturn::FollowSelection);
  connect(list, &ResultsView::statusText, this, &OpenDialogReturn::FollowSelection);
  QAbstractItemModel* rows = list->model();
  connect(rows, &QAbstractItemModel::modelReset, this, &OpenDialogReturn::FollowSelection);
  connect(rows, &QAbstractItemModel::rowsRemoved, this, &OpenDialogReturn::FollowSelection);
  connect(rows, &QAbstractItemModel::layoutChanged, this, &OpenDialogReturn::FollowSelection);
  FollowSelection();
  thread_ = std::thread([this] {
    platform::NameThisThread("q-open-dialog");
    Run();
  });
}

OpenDialogReturn::~OpenDialogReturn() {
  {
    platform::MutexLock lock(&mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void OpenDialogReturn::Search() {
  {
    platform::MutexLock lock(&mutex_);
    search_wanted_ = true;
  }
  wake_.notify_all();
}

void OpenDialogReturn::ReturnSelectedFile() {
  std::vector<std::string> paths = SelectedNativePaths(*form_->results_view());
  if (paths.size() != 1) {
    warn_(QString::fromLatin1(commands::kReturnNeedsOneFileMessage));
    return;
  }
  {
    platform::MutexLock lock(&mutex_);
    returns_.push_back(std::move(paths.front()));
  }
  wake_.notify_all();
}

void OpenDialogReturn::Run() {
  std::unique_ptr<commands::AccessibleDesktop> desktop;
  const int own_process = static_cast<int>(getpid());
  for (;;) {
    bool search = false;
    std::string path;
    bool returning = false;
    {
      platform::MutexLock lock(&mutex_);
      while (!stop_ && !search_wanted_ && returns_.empty()) mutex_.Wait(&wake_);
      if (stop_) return;
      if (!returns_.empty()) {
        path = std::move(returns_.front());
        returns_.pop_front();
        returning = true;
      } else {
        search_wanted_ = false;
        search = true;
      }
    }
    if (desktop == nullptr) desktop = factory_();
    if (returning) {
      commands::ReturnOutcome outcome =
          commands::ReturnToOpenDialog(*desktop, own_process, path);
      PostToWindow(this, [this, outcome] { Returned(outcome); });
    } else if (search) {
      commands::OpenDialogState state = commands::LookForOpenDialog(*desktop, own_process);
      PostToWindow(this, [this, state] { Searched(state); });
    }
  }
}

void OpenDialogReturn::ShowButton(bool shown) {
  QPushButton* button = form_->return_button();
  if (button->isHidden() == !shown) return;
  button->setVisible(shown);
  // The list begins below the button while it shows, at its top otherwise.
  ResultsView* list = form_->results_view();
  const int top = shown ? button->geometry().bottom() + 1 + 5 : button->y();
  const QRect area = list->geometry();
  list->setGeometry(area.x(), top, area.width(), area.bottom() + 1 - top);
}

void OpenDialogReturn::FollowSelection() {
  form_->return_button()->setEnabled(form_->results_view()->SelectedRowCount() == 1);
}

void OpenDialogReturn::Searched(const commands::OpenDialogState& state) {
  ++searches_answered_;
  const bool known_before = !form_->return_button()->isHidden();
  ShowButton(state.found);
  FollowSelection();
  // A dialog just found asks for its file types, unless the user has named
  // files already.
  std::string named;
  if (state.found && !known_before && form_->named_box()->currentText().isEmpty() &&
      commands::NamedTextOfFileType(state.type_text, &named))
    form_->named_box()->setEditText(FromUtf8(named));
}

void OpenDialogReturn::Returned(commands::ReturnOutcome outcome) {
  ++returns_answered_;
  switch (outcome) {
    case commands::ReturnOutcome::kReturned:
      minimize_();
      return;
    case commands::ReturnOutcome::kNoDialog:
      ShowButton(false);
      warn_(QString::fromLatin1(commands::kNoOpenDialogMessage));
      return;
    case commands::ReturnOutcome::kFailed:
      warn_(QString::fromLatin1(commands::kNoOpenDialogMessage));
      return;
  }
}

}  // namespace quindelo::ui
