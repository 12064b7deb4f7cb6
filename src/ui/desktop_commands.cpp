#include "platform/thread_name.h"
#include "ui/plain_text_boxes.h"
#include "ui/desktop_commands.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <set>

#include "base/message_report.h"
#include "commands/clipboard_formats.h"
#include "commands/command_line.h"
#include "commands/command_texts.h"
#include "commands/process_start.h"
#include "platform/desktop_apps.h"
#include "ui/file_clipboard.h"
#include "ui/find_form.h"
#include "ui/native_text.h"
#include "ui/properties_dialog.h"
#include "ui/results_model.h"
#include "ui/results_view.h"
#include "ui/run_dialog.h"

namespace quindelo::ui {

namespace {

constexpr char kFileManagerService[] = "org.freedesktop.FileManager1";
constexpr char kFileManagerPath[] = "/org/freedesktop/FileManager1";

class SessionBusFileManager : public FileManager {
 public:
  explicit SessionBusFileManager(int timeout_ms) : timeout_ms_(timeout_ms) {}
  void Call(const QString& method, const QStringList& uris,
            std::function<void(bool)> done) override {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
      done(false);
      return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(kFileManagerService), QString::fromLatin1(kFileManagerPath),
        QString::fromLatin1(kFileManagerService), method);
    message << uris << QString();  // the URIs and an empty start-up id
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeout_ms_), &owner_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &owner_,
                     [watcher, done = std::move(done)] {
                       const bool answered = !watcher->isError();
                       watcher->deleteLater();
                       done(answered);
                     });
  }

 private:
  int timeout_ms_;
  QObject owner_;  // the pending calls go with it
};

QStringList Uris(const std::vector<std::string>& native_paths) {
  QStringList uris;
  for (const std::string& path : native_paths)
    uris << QString::fromLatin1(commands::FileUri(path).c_str());
  return uris;
}

// The folder part of a drive path as the system shows it ("D:\" for a file
// in a drive's root).
std::string DriveFolder(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return path;
  return path.substr(0, slash > 0 && path[slash - 1] == ':' ? slash + 1 : slash);
}

// A Run batch dropped because the window closed before its turn.
std::string NotRunMessage(const std::string& command_line) {
  return "The command line \"" + command_line +
         "\" was not run: the window closed before its turn.";
}

QString MenuText(const std::string& name) {
  QString text = FromUtf8(name);
  return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

std::unique_ptr<FileManager> MakeSessionBusFileManager(int timeout_ms) {
  return std::make_unique<SessionBusFileManager>(timeout_ms);
}

DesktopCommands::DesktopCommands(ResultsView* view, QWidget* window)
    : QObject(window), view_(view), window_(window) {
  ask_run_text_ = [this](const QString& start, QString* text) {
    return AskRunCommand(window_, start, text);
  };
  ask_print_failure_ = [this](const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kMessageCaption), text,
                    QMessageBox::Ok, window_);
    MakePlain(&box);
    QPushButton* stop = box.addButton(QStringLiteral("Stop Printing"), QMessageBox::RejectRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(stop);
    box.exec();
    return box.clickedButton() != stop;
  };
  // A dead file manager must not hold a command for long.
  file_manager_ = MakeSessionBusFileManager(3000);
  std::thread([queue = run_queue_] {
    platform::NameThisThread("q-run");
    WorkerLoop(queue);
  }).detach();
  std::thread([queue = print_queue_] {
    platform::NameThisThread("q-print");
    WorkerLoop(queue);
  }).detach();
}

DesktopCommands::~DesktopCommands() { Shutdown(); }

void DesktopCommands::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  // Prints are short (lp hands the file to the spooler): every one asked
  // for is carried out, and its failures shown while the window is there.
  WaitIdle(print_queue_.get());
  ShowPrintFailures();
  std::deque<Batch> dropped;
  for (BatchQueue* queue : {print_queue_.get(), run_queue_.get()}) {
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      queue->stopping = true;
      for (Batch& batch : queue->batches) dropped.push_back(std::move(batch));
      queue->batches.clear();
    }
    queue->wake.notify_all();
  }
  for (const Batch& batch : dropped)
    ReportWarning("%s", NotRunMessage(batch.command_line).c_str());
}

void DesktopCommands::set_file_manager(std::unique_ptr<FileManager> file_manager) {
  file_manager_ = std::move(file_manager);
}

void DesktopCommands::PostBatch(BatchQueue* queue, Batch batch) {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->batches.push_back(std::move(batch));
  }
  queue->wake.notify_one();
}

void DesktopCommands::WorkerLoop(std::shared_ptr<BatchQueue> queue) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  for (;;) {
    queue->wake.wait(lock, [&] { return queue->stopping || !queue->batches.empty(); });
    if (queue->batches.empty()) return;  // stopping, and nothing left
    std::function<void()> work = std::move(queue->batches.front().work);
    queue->batches.pop_front();
    queue->busy = true;
    lock.unlock();
    work();
    work = nullptr;
    lock.lock();
    queue->busy = false;
    if (queue->batches.empty()) queue->idle.notify_all();
  }
}

void DesktopCommands::WaitIdle(BatchQueue* queue) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  queue->idle.wait(lock, [&] { return queue->batches.empty() && !queue->busy; });
}

void DesktopCommands::WaitForBatches() {
  WaitIdle(print_queue_.get());
  WaitIdle(run_queue_.get());
}

void DesktopCommands::Open() {
  window_commands_.ActOnSelectedFiles(commands::FileCommand::kOpen, view_->SelectedFiles());
}

void DesktopCommands::TextEdit() {
  window_commands_.ActOnSelectedFiles(commands::FileCommand::kTextEdit, view_->SelectedFiles());
}

void DesktopCommands::Print() {
  if (shut_down_) return;
  // A batch holds everything it uses but the receiver of its failures,
  // which waits for the print worker before it goes (Shutdown).
  auto job = std::make_shared<PrintJob>();
  PostBatch(print_queue_.get(),
            {[files = view_->SelectedFiles(), job, failures = print_failures_, self = this] {
               commands::SystemDesktopServices services;
               commands::FileCommands commands(&services);
               commands.set_stop_check([job] { return job->stopped.load(); });
               commands.set_warning_handler([job, failures, self](const std::string& text) {
                 {
                   platform::MutexLock lock(&failures->mutex);
                   failures->pending.emplace_back(job, text);
                 }
                 PostToWindow(self, [self] { self->ShowPrintFailures(); });
               });
               commands.ActOnSelectedFiles(commands::FileCommand::kPrint, files);
             },
             std::string()});
}

void DesktopCommands::ShowPrintFailures() {
  if (showing_print_failures_) return;
  showing_print_failures_ = true;
  for (;;) {
    std::shared_ptr<PrintJob> job;
    std::string text;
    {
      platform::MutexLock lock(&print_failures_->mutex);
      if (print_failures_->pending.empty()) break;
      job = std::move(print_failures_->pending.front().first);
      text = std::move(print_failures_->pending.front().second);
      print_failures_->pending.pop_front();
    }
    if (job->stopped.load()) continue;
    if (!ask_print_failure_(FromUtf8(text))) job->stopped.store(true);
  }
  showing_print_failures_ = false;
}

bool DesktopCommands::OpenInBrowser(const QString& address) {
  return window_commands_.OpenInBrowser(address.toStdString());
}

void DesktopCommands::Run() {
  std::vector<commands::SelectedFile> files = view_->SelectedFiles();
  QString text;
  if (!ask_run_text_(FromNative(commands::RunDialogStartText(files)), &text) || shut_down_)
    return;
  std::string line = ToNative(text);
  PostBatch(run_queue_.get(), {[files = std::move(files), line] {
                                 commands::SystemDesktopServices services;
                                 commands::FileCommands(&services).RunCommandOnSelection(line,
                                                                                         files);
                               },
                               line});
}

void DesktopCommands::ShowProperties() {
  const std::vector<std::string> paths = SelectedNativePaths(*view_);
  if (paths.empty()) return;
  QPointer<DesktopCommands> self(this);
  file_manager_->Call(QStringLiteral("ShowItemProperties"), Uris(paths),
                      [self, paths](bool answered) {
                        if (answered || !self) return;
                        if (self->properties_dialog_) self->properties_dialog_->close();
                        auto* dialog = new PropertiesDialog(paths, self->window_);
                        dialog->setAttribute(Qt::WA_DeleteOnClose);
                        self->properties_dialog_ = dialog;
                        dialog->show();
                      });
}

void DesktopCommands::OpenContainingFolder() {
  std::vector<commands::SelectedFile> files = view_->SelectedFiles();
  const std::vector<std::string> paths = commands::NativePaths(files);
  if (paths.empty()) return;
  QPointer<DesktopCommands> self(this);
  file_manager_->Call(
      QStringLiteral("ShowItems"), Uris(paths), [self, files](bool answered) {
        if (answered || !self) return;
        std::set<std::string> opened;
        for (const commands::SelectedFile& file : files) {
          if (file.native_path.empty()) continue;
          const std::string folder = commands::WorkingFolder(file.native_path);
          if (folder.empty() || !opened.insert(folder).second) continue;
          if (!self->services_.OpenWithDefaultApplication(folder, folder))
            ReportWarning("%s",
                          commands::OpenFailedMessage(commands::kOpenVerb, DriveFolder(file.path))
                              .c_str());
        }
      });
}

void DesktopCommands::RebuildOpenWith(QMenu* menu, QAction* before) {
  for (QAction* entry : open_with_entries_[menu]) {
    menu->removeAction(entry);
    entry->deleteLater();
  }
  std::vector<QAction*>& entries = open_with_entries_[menu];
  entries.clear();
  const std::vector<commands::SelectedFile> files = view_->SelectedFiles();
  if (files.empty() || files.front().native_path.empty()) return;
  const std::string mime = platform::FileMimeType(files.front().native_path);
  for (const platform::DesktopApp& app : platform::ApplicationsForType(mime)) {
    auto* entry = new QAction(QStringLiteral("Open With ") + MenuText(app.display_name), menu);
    entry->setObjectName(QStringLiteral("openWith:") + FromUtf8(app.id));
    entry->setToolTip(PlainToolTip(QStringLiteral("Open With ") + FromUtf8(app.display_name)));
    entry->setStatusTip(QStringLiteral("Open selected file(s) with %1")
                            .arg(FromUtf8(app.display_name)));
    if (!app.icon_name.empty()) {
      const QString icon = FromUtf8(app.icon_name);
      entry->setIcon(icon.startsWith(QLatin1Char('/')) ? QIcon(icon) : QIcon::fromTheme(icon));
    }
    connect(entry, &QAction::triggered, this,
            [this, exec = commands::LaunchExec(app.exec, app.terminal)] {
              OpenWith(exec, view_->SelectedFiles());
            });
    menu->insertAction(before, entry);
    entries.push_back(entry);
  }
  if (!entries.empty()) {
    QAction* separator = new QAction(menu);
    separator->setSeparator(true);
    menu->insertAction(before, separator);
    entries.push_back(separator);
  }
}

void DesktopCommands::OpenWith(const std::string& exec,
                               const std::vector<commands::SelectedFile>& files) {
  std::vector<commands::SelectedFile> present;
  for (const commands::SelectedFile& file : files)
    if (!file.native_path.empty()) present.push_back(file);
  const std::vector<std::vector<std::string>> processes =
      commands::OpenWithProcesses(exec, commands::NativePaths(present));
  if (processes.empty() && !present.empty())
    ReportWarning("%s", commands::OpenFailedMessage(commands::kOpenVerb, present[0].path).c_str());
  // One process per file, or one for the whole list (started in the first
  // file's folder).
  for (std::size_t i = 0; i < processes.size(); ++i) {
    const commands::SelectedFile& file = present[processes.size() == present.size() ? i : 0];
    if (!commands::StartProcess(processes[i], commands::WorkingFolder(file.native_path), false))
      ReportWarning("%s", commands::OpenFailedMessage(commands::kOpenVerb, file.path).c_str());
  }
}

}  // namespace quindelo::ui
