#include "ui/file_operations.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "base/message_report.h"
#include "commands/desktop_trash.h"
#include "platform/paths.h"
#include "ui/file_operation_dialogs.h"
#include "ui/find_form.h"
#include "ui/native_text.h"
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

// The plan's observer on the worker thread: questions are asked on the
// window thread through the work queue (the worker waits for the answer);
// progress is two atomics the progress dialog reads on its own timer.
class WorkerObserver : public commands::FileOperationObserver {
 public:
  WorkerObserver(FileOperationPrompts* prompts, WindowWorkQueue* queue,
                 const std::atomic<bool>* cancelled,
                 const std::function<void(std::size_t, std::uint64_t)>* hook)
      : prompts_(prompts), queue_(queue), cancelled_(cancelled), hook_(hook) {}

  bool ConfirmReplace(const PlannedStep& step) override {
    bool yes = false;
    queue_->Send([&] { yes = prompts_->ask(FileQuestion::kReplace, ReplaceQuestion(step)); });
    return yes;
  }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep& step, const std::string& reason) override {
    bool yes = false;
    queue_->Send([&] {
      yes = prompts_->ask(FileQuestion::kDeleteAfterTrashRefused, TrashRefusedQuestion(step, reason));
    });
    return yes;
  }
  void Progress(std::size_t step_index, std::uint64_t bytes_done) override {
    step.store(step_index, std::memory_order_relaxed);
    bytes.store(bytes_done, std::memory_order_relaxed);
    if (*hook_) queue_->Send([&] { (*hook_)(step_index, bytes_done); });
  }
  bool Cancelled() override { return cancelled_->load(); }
  FailureAnswer Failed(const PlannedStep&, const std::string& message) override {
    FailureAnswer answer = FailureAnswer::kStop;
    queue_->Send([&] { answer = prompts_->ask_skip_or_stop(FromUtf8(message)); });
    return answer;
  }

  std::atomic<std::size_t> step{0};
  std::atomic<std::uint64_t> bytes{0};

 private:
  FileOperationPrompts* prompts_;
  WindowWorkQueue* queue_;
  const std::atomic<bool>* cancelled_;
  const std::function<void(std::size_t, std::uint64_t)>* hook_;
};

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
    return QMessageBox::question(parent_, QString::fromUtf8(kMessageCaption), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };
  prompts_.ask_skip_or_stop = [this](const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kMessageCaption), text,
                    QMessageBox::NoButton, parent_);
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
    QMessageBox::warning(parent_, QString::fromUtf8(kMessageCaption), text);
  };
}

FileOperations::~FileOperations() = default;

FileOperationResult FileOperations::FileOperationOnSelection(FileOperation op) {
  if (busy_) return {};
  // A running find stops first, so the rows stay as they are.
  form_->Stop();
  std::vector<std::string> sources;
  ResultsView* view = form_->results_view();
  std::string path;
  for (int cursor = -1; view->NextSelectedPath(&cursor, &path);) sources.push_back(path);
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
  WorkerObserver observer(&prompts_, &queue, &cancelled_, &progress_hook_);
  const std::size_t steps = plan.steps.size();

  QProgressDialog progress(QString(), QStringLiteral("Cancel"), 0,
                           static_cast<int>(std::min<std::size_t>(steps, INT32_MAX)), parent_);
  progress.setWindowTitle(QStringLiteral("Quindelo"));
  progress.setAccessibleName(QStringLiteral("Progress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumDuration(kProgressDelayMs);
  QObject::connect(&progress, &QProgressDialog::canceled, &progress, [this] { Cancel(); });
  QTimer updates;
  QObject::connect(&updates, &QTimer::timeout, &progress, [&] {
    const std::size_t step = std::min(observer.step.load(std::memory_order_relaxed), steps - 1);
    progress.setLabelText(cancelled_.load()
                              ? QStringLiteral("Cancelling...")
                              : ProgressLabel(plan.steps[step],
                                              observer.bytes.load(std::memory_order_relaxed)));
    progress.setValue(static_cast<int>(step));
  });

  QEventLoop loop;
  bool finished = false;
  FileOperationResult result;
  std::thread worker([&] {
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
  progress.reset();
  busy_ = false;
  return result;
}

}  // namespace quindelo::ui
