// The commands that hand the selected files of the results list to the
// desktop: Open, Print, Text Edit and Run, the "Open With" entries of the
// File menu and the popup, Properties and Open Containing Folder.
//
// Open and Text Edit start their programs at once on the window thread.
// Print (which waits for lp) and Run (which waits for every command of a
// batch but the last) run off the window thread, so the window keeps
// repainting: Run batches on a worker of their own, one after another in
// the order given; prints on another worker, so that a print never waits
// behind a Run batch (which may wait for a program the user keeps open).
// Run's warnings reach the window through the message sink. A print's
// failures are shown one at a time, in order, each box after the one before
// it has closed (never a stack of boxes): each names its file and, on a
// second line, what lp said; its "Stop Printing" button skips the rest of
// that print's messages and the files not yet handed to lp. When the
// window goes, every print asked for is still carried out (its failures
// still shown), and a Run batch that has not started yet is reported as
// not run. Properties and Open
// Containing Folder ask the desktop's file manager over D-Bus without
// waiting for it; when none answers (no such service, an error, or no
// answer within the timeout) they fall back to a dialog of our own and to
// opening the folder.
//
// GUI thread only, except that the worker runs the batches.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "commands/desktop_services.h"
#include "commands/file_commands.h"
#include "commands/selection.h"
#include "ui/properties_dialog.h"

class QAction;
class QMenu;
class QWidget;

namespace quindelo::ui {

class ResultsView;

// The desktop's file manager (org.freedesktop.FileManager1).
class FileManager {
 public:
  virtual ~FileManager() = default;
  // Calls method ("ShowItems" or "ShowItemProperties") with the file URIs.
  // done is called once on the window thread, now or later, with true when
  // the file manager answered without an error.
  virtual void Call(const QString& method, const QStringList& uris,
                    std::function<void(bool answered)> done) = 0;
};

// The file manager on the session bus; a call waits for its answer at most
// timeout_ms, without blocking the window thread.
std::unique_ptr<FileManager> MakeSessionBusFileManager(int timeout_ms);

class DesktopCommands : public QObject {
  Q_OBJECT

 public:
  // view and window (the parent of dialogs) must outlive this object.
  DesktopCommands(ResultsView* view, QWidget* window);
  // Shutdown(), then the workers end on their own.
  ~DesktopCommands() override;
  // For the window's close: waits for the prints asked for; each Run batch
  // not started yet is dropped with a warning that names its command line
  // (a running one, which may wait for a program the user keeps open, ends
  // on its own in the background). Later commands are not carried out.
  void Shutdown();

  void Open();
  void Print();
  // Starts the desktop's web browser on address; failures are warnings
  // (commands::FileCommands::OpenInBrowser). False when it did not start.
  bool OpenInBrowser(const QString& address);
  void TextEdit();
  // Asks for the command line (the "Run Command" dialog) and runs it.
  void Run();
  void ShowProperties();
  void OpenContainingFolder();

  // Puts the "Open With" entries for the selection (the applications of the
  // first selected file's MIME type) into menu before `before`, replacing
  // the ones put there last time; none without a selection.
  void RebuildOpenWith(QMenu* menu, QAction* before);

  // Tests replace the dialog and the file manager.
  void set_run_text_asker(std::function<bool(const QString& start, QString* text)> asker) {
    ask_run_text_ = std::move(asker);
  }
  void set_file_manager(std::unique_ptr<FileManager> file_manager);
  // Shows one print failure and waits for the answer: true to go on, false
  // for "Stop Printing". A warning box over the window unless replaced.
  void set_print_failure_asker(std::function<bool(const QString& text)> asker) {
    ask_print_failure_ = std::move(asker);
  }
  // The fallback properties dialog shown last, while it is open.
  PropertiesDialog* properties_dialog() const { return properties_dialog_; }
  // Waits until every batch handed to the worker has ended.
  void WaitForBatches();

 private:
  // The worker's queue, shared with the worker thread so that the window can
  // go while a batch still waits for its program.
  struct Batch {
    std::function<void()> work;
    std::string command_line;  // what a warning names when it is dropped
  };
  struct BatchQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Batch> batches;                  // guarded by mutex
    bool busy = false;                          // guarded by mutex
    bool stopping = false;                      // guarded by mutex
  };
  // The failures of the prints, handed from the print worker to the window.
  struct PrintJob {
    std::atomic<bool> stopped{false};  // the user chose "Stop Printing"
  };
  struct PrintFailures {
    platform::Mutex mutex;
    std::deque<std::pair<std::shared_ptr<PrintJob>, std::string>> pending GUARDED_BY(mutex);
  };
  // Shows the pending print failures one after another (GUI thread); a call
  // while a box is open returns at once, the open loop takes them.
  void ShowPrintFailures();
  static void WorkerLoop(std::shared_ptr<BatchQueue> queue);
  static void PostBatch(BatchQueue* queue, Batch batch);
  static void WaitIdle(BatchQueue* queue);
  void OpenWith(const std::string& exec, const std::vector<commands::SelectedFile>& files);

  ResultsView* view_;
  QWidget* window_;
  commands::SystemDesktopServices services_;
  commands::FileCommands window_commands_{&services_};  // Open, Text Edit (and its cache)
  std::function<bool(const QString&, QString*)> ask_run_text_;
  std::function<bool(const QString&)> ask_print_failure_;
  std::shared_ptr<PrintFailures> print_failures_ = std::make_shared<PrintFailures>();
  bool showing_print_failures_ = false;
  std::unique_ptr<FileManager> file_manager_;
  QPointer<PropertiesDialog> properties_dialog_;
  std::map<QMenu*, std::vector<QAction*>> open_with_entries_;

  std::shared_ptr<BatchQueue> run_queue_ = std::make_shared<BatchQueue>();
  std::shared_ptr<BatchQueue> print_queue_ = std::make_shared<BatchQueue>();
  bool shut_down_ = false;
};

}  // namespace quindelo::ui
