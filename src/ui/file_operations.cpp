#include "platform/thread_name.h"
#include "ui/file_operations.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/message_report.h"
#include "commands/desktop_trash.h"
#include "platform/paths.h"
#include "ui/file_operation_dialogs.h"
#include "ui/find_form.h"
#include "ui/native_text.h"
#include "ui/plain_text_boxes.h"
#include "ui/results_view.h"

namespace quindelo::ui {

using commands::FailureAnswer;
using commands::FileOperation;
using commands::FileOperationPlan;
using commands::FileOperationResult;
using commands::PlannedStep;
using commands::StepAction;

namespace {

QString Quoted(const std::string& path) { return QStringLiteral("\"%1\"").arg(FromNative(path)); }

constexpr int kNamedProblems = 10;
constexpr int kProgressUpdateMs = 100;
constexpr int kProgressDelayMs = 500;
constexpr int kBarScale = 1000;

// Runs a question on the window thread while the worker waits for it.
using AskOnWindow = std::function<void(const std::function<void()>& question)>;

// The plan's observer on the worker thread: questions are asked on the
// window thread (the worker waits for the answer), and an answer "to all"
// is kept for the rest of the operation; progress is two atomics the
// progress dialog reads on its own timer.
class WorkerObserver : public commands::FileOperationObserver {
 public:
  WorkerObserver(FileOperationPrompts* prompts, AskOnWindow ask, WindowWorkQueue* queue,
                 std::atomic<bool>* cancelled,
                 const std::function<void(std::size_t, std::uint64_t)>* hook,
                 const std::function<void()>* refresh)
      : prompts_(prompts), ask_(std::move(ask)), queue_(queue), cancelled_(cancelled),
        hook_(hook), refresh_(refresh) {}

  bool ConfirmReplace(const PlannedStep& step) override {
    return AskEach(FileQuestion::kReplace, ReplaceQuestion(step), &replace_all_);
  }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep& step, const std::string& reason) override {
    return AskEach(FileQuestion::kDeleteAfterTrashRefused, TrashRefusedQuestion(step, reason),
                   &delete_all_);
  }
  void Progress(std::size_t step_index, std::uint64_t bytes_done) override {
    step.store(step_index, std::memory_order_relaxed);
    bytes.store(bytes_done, std::memory_order_relaxed);
    if (*hook_) queue_->Send([&] {
      (*refresh_)();
      (*hook_)(step_index, bytes_done);
    });
  }
  bool Cancelled() override { return cancelled_->load(); }
  FailureAnswer Failed(const PlannedStep&, const std::string& message) override {
    FailureAnswer answer = FailureAnswer::kStop;
    ask_([&] { answer = prompts_->ask_skip_or_stop(FromUtf8(message)); });
    return answer;
  }

  std::atomic<std::size_t> step{0};
  std::atomic<std::uint64_t> bytes{0};

 private:
  // Worker thread only, like the answers kept for all.
  bool AskEach(FileQuestion question, const QString& text, std::optional<bool>* for_all) {
    if (*for_all) return **for_all;
    EachAnswer answer = EachAnswer::kNo;
    ask_([&] { answer = prompts_->ask_each(question, text); });
    switch (answer) {
      case EachAnswer::kYes: return true;
      case EachAnswer::kNo: return false;
      case EachAnswer::kYesToAll: *for_all = true; return true;
      case EachAnswer::kNoToAll: *for_all = false; return false;
      case EachAnswer::kCancel: cancelled_->store(true); return false;
    }
    return false;
  }

  FileOperationPrompts* prompts_;
  AskOnWindow ask_;
  WindowWorkQueue* queue_;
  std::atomic<bool>* cancelled_;
  const std::function<void(std::size_t, std::uint64_t)>* hook_;
  const std::function<void()>* refresh_;
  std::optional<bool> replace_all_;  // an answer "to all" of the replace question
  std::optional<bool> delete_all_;   // ... of the trash-refused question
};

// The progress dialog: what is being done (plain text), the bar and Cancel.
// Cancel, Escape and closing the dialog cancel the operation; the dialog
// stays until the worker has ended.
class ProgressDialog : public QDialog {
 public:
  ProgressDialog(QWidget* parent, std::function<void()> cancel)
      : QDialog(parent), cancel_(std::move(cancel)) {
    setWindowTitle(QStringLiteral("Quindelo"));
    setAccessibleName(QStringLiteral("Progress"));
    setWindowModality(Qt::WindowModal);
    label_ = PlainLabel(QString(), this);
    label_->setWordWrap(true);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, kBarScale);
    bar_->setValue(0);
    bar_->setAccessibleName(QStringLiteral("Progress"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(buttons);
    setMinimumWidth(420);
  }
  void reject() override { cancel_(); }
  void Set(const QString& label, int value) {
    if (label_->text() != label) label_->setText(label);
    bar_->setValue(value);
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    cancel_();
  }

 private:
  std::function<void()> cancel_;
  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

// The size of the file a copy or move step reads (0 for a folder or
// anything but a regular file, whose bytes are not known beforehand).
std::uint64_t StepFileSize(const PlannedStep& step) {
  if (step.source_is_folder ||
      (step.action != StepAction::kCopy && step.action != StepAction::kMove))
    return 0;
  std::error_code error;
  const std::filesystem::path path(step.native_source);
  if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::regular)
    return 0;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

// The steps that work on a selected file, and the first of them. (A plan
// whose files are all left out has nothing to do, not even the making of
// its destination folder.)
std::size_t ActiveSteps(const FileOperationPlan& plan, const PlannedStep** first) {
  std::size_t count = 0;
  for (const PlannedStep& step : plan.steps) {
    if (step.action == StepAction::kSkip || step.action == StepAction::kMakeFolder) continue;
    if (count++ == 0 && first) *first = &step;
  }
  return count;
}

QString ProgressLabel(const PlannedStep& step, std::uint64_t bytes) {
  const char* verb = "Working on";
  switch (step.action) {
    case StepAction::kCopy: verb = "Copying"; break;
    case StepAction::kMove: verb = "Moving"; break;
    case StepAction::kRename: verb = "Renaming"; break;
    case StepAction::kTrash: verb = "Moving to the trash"; break;
    case StepAction::kDelete: verb = "Deleting"; break;
    case StepAction::kMakeFolder: verb = "Making the folder"; break;
    case StepAction::kSkip: break;
  }
  const std::string& path = step.action == StepAction::kMakeFolder ? step.destination : step.source;
  QString text = QStringLiteral("%1 %2").arg(QString::fromLatin1(verb), Quoted(path));
  if (bytes > 0) text += QStringLiteral(" (%1 MB)").arg(bytes >> 20);
  return text;
}

}  // namespace

QString DeleteQuestion(const FileOperationPlan& plan) {
  const PlannedStep* first = nullptr;
  const std::size_t count = ActiveSteps(plan, &first);
  if (count == 1 && first)
    return QStringLiteral("Are you sure you want to move %1 to the trash?")
        .arg(Quoted(first->source));
  return QStringLiteral("Are you sure you want to move these %1 files to the trash?").arg(count);
}

QString PermanentDeleteQuestion(const FileOperationPlan& plan) {
  const PlannedStep* first = nullptr;
  const std::size_t count = ActiveSteps(plan, &first);
  if (count == 1 && first)
    return QStringLiteral("Are you sure you want to permanently delete %1?\n\nIt cannot be "
                          "restored from the trash.")
        .arg(Quoted(first->source));
  return QStringLiteral("Are you sure you want to permanently delete these %1 files?\n\nThey "
                        "cannot be restored from the trash.")
      .arg(count);
}

QString ReplaceQuestion(const PlannedStep& step) {
  return QStringLiteral("The file %1 already exists.\n\nDo you want to replace it with %2?")
      .arg(Quoted(step.destination), Quoted(step.source));
}

QString TrashRefusedQuestion(const PlannedStep& step, const std::string& reason) {
  QString text = QStringLiteral("%1 cannot be moved to the trash").arg(Quoted(step.source));
  if (!reason.empty()) text += QStringLiteral(": %1").arg(FromUtf8(reason));
  return text + QStringLiteral("\n\nDo you want to delete it permanently? It cannot be restored.");
}

QString SkippedFilesMessage(const FileOperationPlan& plan) {
  QString text;
  int named = 0;
  for (const PlannedStep& step : plan.steps) {
    if (step.action != StepAction::kSkip || step.problem.empty()) continue;
    if (named++ == kNamedProblems) break;
    if (!text.isEmpty()) text += QLatin1Char('\n');
    text += FromUtf8(step.problem);
  }
  if (plan.skip_count > static_cast<std::size_t>(kNamedProblems))
    text += QStringLiteral("\n(%1 more files are left out as well.)")
                .arg(plan.skip_count - kNamedProblems);
  return text;
}

FileOperations::FileOperations(FindForm* form, QWidget* parent)
    : form_(form), parent_(parent), trash_(std::make_unique<commands::DesktopTrash>()) {
  prompts_.ask_text = [this](FileOperation op) -> std::optional<QString> {
    const bool rename = op == FileOperation::kRename;
    FileOperationDialog dialog(rename ? FileOperationDialog::Kind::kRename
                                      : FileOperationDialog::Kind::kDestination,
                               parent_);
    dialog.set_warning_handler([this](const QString& text) { prompts_.warn(text); });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.text();
  };
  prompts_.ask = [this](FileQuestion, const QString& text) {
    return AskPlainQuestion(BoxParent(), QString::fromUtf8(kMessageCaption), text,
                            QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) == QMessageBox::Yes;
  };
  prompts_.ask_each = [this](FileQuestion, const QString& text) {
    switch (AskPlainQuestion(BoxParent(), QString::fromUtf8(kMessageCaption), text,
                             QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No |
                                 QMessageBox::NoToAll | QMessageBox::Cancel,
                             QMessageBox::No)) {
      case QMessageBox::Yes: return EachAnswer::kYes;
      case QMessageBox::YesToAll: return EachAnswer::kYesToAll;
      case QMessageBox::No: return EachAnswer::kNo;
      case QMessageBox::NoToAll: return EachAnswer::kNoToAll;
      default: return EachAnswer::kCancel;
    }
  };
  prompts_.ask_skip_or_stop = [this](const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kMessageCaption), text,
                    QMessageBox::NoButton, BoxParent());
    MakePlain(&box);
    QPushButton* skip = box.addButton(QStringLiteral("&Skip"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(QStringLiteral("S&top"), QMessageBox::RejectRole);
    skip->setAccessibleName(QStringLiteral("Skip"));
    stop->setAccessibleName(QStringLiteral("Stop"));
    box.setDefaultButton(skip);
    box.setEscapeButton(stop);
    box.exec();
    return box.clickedButton() == skip ? FailureAnswer::kSkip : FailureAnswer::kStop;
  };
  prompts_.warn = [this](const QString& text) {
    ShowPlainWarning(BoxParent(), QString::fromUtf8(kMessageCaption), text);
  };
}

FileOperations::~FileOperations() = default;

QWidget* FileOperations::BoxParent() const {
  return progress_ && progress_->isVisible() ? progress_ : parent_;
}

FileOperationResult FileOperations::FileOperationOnSelection(FileOperation op) {
  if (busy_) return {};
  // A running find stops first, so the rows stay as they are.
  form_->Stop();
  // Whole drive paths: a path cut for showing could name another file (its
  // own folder).
  std::vector<std::string> sources;
  for (const commands::SelectedFile& file : form_->results_view()->SelectedFiles())
    sources.push_back(file.drive_path);
  if (sources.empty()) return {};

  std::string text;
  if (op == FileOperation::kCopy || op == FileOperation::kMove || op == FileOperation::kRename) {
    const std::optional<QString> answer = prompts_.ask_text(op);
    if (!answer) return {};
    text = ToNative(*answer);
    // A destination typed (or pasted) as a native path becomes a drive path.
    if (op != FileOperation::kRename && !text.empty() && text[0] == '/') {
      std::string drive_path;
      if (!platform::ToDrivePath(text, &drive_path)) {
        prompts_.warn(NotOnDriveMessage(*answer));
        return {};
      }
      if (text.size() > 1 && text.back() == '/' && drive_path.back() != '\\') drive_path += '\\';
      text = drive_path;
    }
  }

  const commands::DiskView disk;
  const FileOperationPlan plan = commands::PlanFileOperation(op, sources, text, disk);
  if (!plan.error.empty()) {
    prompts_.warn(FromUtf8(plan.error));
    return {};
  }
  if (plan.skip_count > 0) prompts_.warn(SkippedFilesMessage(plan));
  if (ActiveSteps(plan, nullptr) == 0) return {};
  if (plan.confirm_first &&
      !prompts_.ask(FileQuestion::kDeletePermanently, PermanentDeleteQuestion(plan)))
    return {};
  if (op == FileOperation::kDelete && !prompts_.ask(FileQuestion::kDelete, DeleteQuestion(plan)))
    return {};

  const FileOperationResult result = RunPlan(plan);
  if (result.changed())
    form_->Refresh((QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0);
  return result;
}

FileOperationResult FileOperations::RunPlan(const FileOperationPlan& plan) {
  if (busy_ || !plan.error.empty() || plan.steps.empty()) return {};
  busy_ = true;
  cancelled_.store(false);
  WindowWorkQueue queue;
  const std::size_t steps = plan.steps.size();

  ProgressDialog progress(parent_, [this] { Cancel(); });
  progress_ = &progress;
  QElapsedTimer clock;
  clock.start();
  // The dialog's label and bar from the worker's atomics: the bar moves by
  // steps, and within a file by the bytes copied of its size. The dialog
  // shows after the delay, never while a question is open (the question
  // would go under it).
  std::function<void()> refresh;
  // A question of the worker, on the window thread.
  AskOnWindow ask = [this, &queue](const std::function<void()>& question) {
    queue.Send([&] {
      ++questions_open_;
      question();
      --questions_open_;
    });
  };
  WorkerObserver observer(&prompts_, std::move(ask), &queue, &cancelled_, &progress_hook_,
                          &refresh);
  std::size_t sized_step = steps;
  std::uint64_t step_size = 0;
  refresh = [&] {
    const std::size_t step = std::min(observer.step.load(std::memory_order_relaxed), steps - 1);
    const std::uint64_t bytes = observer.bytes.load(std::memory_order_relaxed);
    if (step != sized_step) {
      sized_step = step;
      step_size = StepFileSize(plan.steps[step]);
    }
    const double within = step_size > 0 ? std::min(1.0, static_cast<double>(bytes) /
                                                            static_cast<double>(step_size))
                                        : 0.0;
    progress.Set(cancelled_.load() ? QStringLiteral("Cancelling...")
                                   : ProgressLabel(plan.steps[step], bytes),
                 static_cast<int>(kBarScale * (static_cast<double>(step) + within) /
                                  static_cast<double>(steps)));
    if (!progress.isVisible() && questions_open_ == 0 && clock.elapsed() >= kProgressDelayMs)
      progress.show();
  };
  QTimer updates;
  QObject::connect(&updates, &QTimer::timeout, &progress, [&] { refresh(); });

  QEventLoop loop;
  bool finished = false;
  FileOperationResult result;
  std::thread worker([&] {
    platform::NameThisThread("q-file-op");
    result = commands::RunFileOperationPlan(plan, trash_.get(), &observer);
    PostToWindow(&queue, [&] {
      finished = true;
      loop.quit();
    });
  });
  updates.start(kProgressUpdateMs);
  if (!finished) loop.exec();
  worker.join();
  updates.stop();
  progress.hide();
  progress_ = nullptr;
  busy_ = false;
  return result;
}

}  // namespace quindelo::ui
