// FindForm: the program's one view. It holds the look-in, named and
// containing boxes with their labels, the Browse and "&Return to Open Dialog"
// buttons and the results list, and it is the search driver's FindWindow.
//
// Threads. The form lives on the window (GUI) thread. Worker threads reach
// it only through the FindWindow calls, which are queued and never wait.
// The driver's OpenDriveIndex, Refresh and Shutdown wait for the index, so
// the form makes them from a background thread of its own. Whenever the
// window thread must wait for that thread (a second Refresh, the
// destructor), it keeps running the work that other threads hand over while
// it waits.
//
// Settings: histories and the list font live in "Controls"; each read and
// write makes its own SettingsStore.
#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/saved_find.h"
#include "app/settings_store.h"
#include "app/view_options.h"
#include "search/find_request.h"
#include "search/find_window.h"
#include "search/search_driver.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace quindelo {
class FileTypeProvider;
}

namespace quindelo::ui {

class FileTypes;
class ResultsView;

// Work handed to the window thread by other threads, one item at a time.
// Send waits until the window thread has run the work; the window thread
// runs it from its event loop, or from WaitServing while it waits for a
// worker of its own.
class WindowWorkQueue : public QObject {
 public:
  explicit WindowWorkQueue(QObject* parent = nullptr) : QObject(parent) {}
  // Any thread but the window thread: queues work and waits until it ran.
  void Send(const std::function<void()>& work);
  // Window thread: runs every queued work.
  void RunPending();
  // Window thread: runs queued work until done() holds. done is checked
  // again after every Wake().
  void WaitServing(const std::function<bool()>& done);
  // Any thread: done() of a WaitServing may have changed.
  void Wake();

 private:
  struct Item {
    const std::function<void()>* work;
    bool done = false;
  };
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item*> items_;  // guarded by mutex_
};

// Queues work to run on receiver's thread and returns at once (a queued
// call). The call's data are handed over under a lock of our own as well as
// Qt's, so that ThreadSanitizer, which cannot look into Qt, sees the order.
void PostToWindow(QObject* receiver, std::function<void()> work);

// The list font as the settings hold it, and back. A FontSpec that does not
// make a usable font gives nullopt (the list keeps its standard font).
std::optional<QFont> FontFromSpec(const FontSpec& spec);
FontSpec SpecFromFont(const QFont& font);

// The history rules of the three boxes, on plain lists (drive entries first
// in the look-in list).
// Leaving the look-in box with text: the list after the rule.
void AddLookInHistory(std::vector<std::string>* entries, int drive_entries,
                      const std::string& text);
// Leaving the named or containing box.
void AddTextHistory(std::vector<std::string>* entries, const std::string& text);
// What is saved: the look-in entries among the first ten that begin with a
// letter and a colon and whose third character is not a space.
std::vector<std::string> LookInHistoryToSave(const std::vector<std::string>& entries);
// The non-empty ones among the first ten.
std::vector<std::string> TextHistoryToSave(const std::vector<std::string>& entries);

class FindForm : public QWidget, public FindWindow {
  Q_OBJECT

 public:
  // The form's identifiers of its controls, used as help topics.
  enum ControlId { kNamedBox = 1001, kLookInBox = 1002, kContainingBox = 1003, kResultsList = 1004 };

  // The driver starts with options; its index threads start at once.
  explicit FindForm(const SearchDriver::Options& options = SearchDriver::Options(),
                    QWidget* parent = nullptr);
  // The same with a driver of the caller's making (tests stand in for parts
  // of it); make_driver is called once, with the form.
  // The second argument is the desktop's type and icon source for the
  // driver's ResultsPool (may be ignored).
  using DriverFactory =
      std::function<std::unique_ptr<SearchDriver>(FindWindow*, const FileTypeProvider*)>;
  FindForm(const DriverFactory& make_driver, QWidget* parent);
  // Shuts the driver down first, running window work while it waits.
  ~FindForm() override;

  // The first initial update: histories, drive entries, validation, font,
  // focus. Once.
  void InitialUpdate();

  // Exchange into the form: a new default find (untitled) or one opened from
  // a file (document_title is then the title shown). A running find stops.
  void LoadFind(const SavedFind& find, bool untitled, const QString& document_title = QString());
  // Exchange out of the form: the three texts and the view options block.
  SavedFind CaptureFind();

  // A close request: true when the form has closed (closeFinished emitted or
  // about to be); false when it waits for a running find or the shutdown.
  void RequestClose();
  bool closed() const { return closed_; }

  // Commands.
  void Stop() { driver_->Stop(); }
  void Refresh(bool rebuild);
  void ToggleIncludeSubfolders();
  // Opens the font dialog; on OK applies and saves the font.
  void ChooseFont();
  // Gives the list a font and writes "Controls"/"Font".
  void SetListFont(const QFont& font);

  // View commands (the list's own: ResultsView): the five show flags (icon, extension, type, size, date),
  // the sort key (a ViewColumn) and its direction, a click on the header of
  // a view column (the sorted column flips the direction, another column
  // becomes the key), and the selection. Each marks the document modified
  // where the view changes.
  void ToggleShowFlag(int flag);
  void SortBy(int key);
  void ToggleDescending();
  void HeaderClicked(int view_column);
  void SelectAll();
  void InvertSelection();
  // The title of a document from a file (after Save As).
  void SetDocumentTitle(const QString& title);
  // Native paths in the look-in box and its history, the Folder column and
  // the status messages (on), or drive paths (off). A native folder typed
  // into the look-in box is taken either way.
  void SetNativePaths(bool on);
  bool native_paths() const { return native_paths_; }

  // The view options block the form holds.
  const ViewOptions& view_options() const { return options_; }
  void SetViewOptions(const ViewOptions& options);

  // Parts, for the frame and tests.
  SearchDriver* driver() const { return driver_.get(); }
  LookInValidator* validator() const { return validator_.get(); }
  QComboBox* look_in_box() const { return look_in_; }
  QComboBox* named_box() const { return named_; }
  QComboBox* containing_box() const { return containing_; }
  QPushButton* browse_button() const { return browse_; }
  QPushButton* return_button() const { return return_button_; }
  ResultsView* results_view() const { return list_; }
  QLabel* containing_label() const { return containing_label_; }
  QString status_text() const { return status_; }
  QString indicator_text() const { return indicator_; }
  QString title() const { return title_; }
  bool untitled() const { return untitled_; }
  int drive_entry_count() const;
  // Entries of a box, in list order.
  static std::vector<std::string> Entries(const QComboBox* box);
  // Runs the window work handed over by other threads until done() holds
  // (window thread).
  void WaitServing(const std::function<bool()>& done) { work_.WaitServing(done); }

  // The texts of the next find as the boxes hold them.
  FindRequest BoxesRequest() const;
  std::string NamedText() const;
  std::string ContainingText() const;
  // Rows of the results list, and the row that has the focus (-1: none).
  int RowCount() const;
  FoundFile* RowRecord(int row) const;
  int FocusedRow() const;

  // FindWindow. The calls from other threads are queued to the form's
  // thread; on it they take effect at once, so that a message shown by work
  // of RunLater keeps its place before those queued after it.
  void RunLater(std::function<void()> work) override;
  void SetStatusText(const char* text) override;
  void SetIndicatorText(const char* text) override;
  void PostCloseRequest() override;
  void PostCommand(int command) override;
  void FindActivityChanged() override;
  void EnableBoxes(bool look_in_valid) override;
  void FocusLookIn() override;
  void UpdateTitle(const std::string& named) override;
  void SetWaitCursor(bool wait) override;
  void RepaintForm() override;
  void RowsDeleted() override;
  void SelectRow(int row) override;
  void DetailsDue() override;

 signals:
  void statusChanged(const QString& text);
  void indicatorChanged(const QString& text);
  void titleChanged(const QString& title);
  // The view or a box changed: the document is modified.
  void modified();
  // The form has closed (histories saved, index shut down).
  void closeFinished();
  // A right click on the list with rows selected (the find was stopped):
  // the popup of the selection's commands, at global position at.
  void popupRequested(const QPoint& at);
  // F1 on a control, or a click on it in context-help mode: the help
  // topic's anchor.
  void helpRequested(const QString& anchor);
  // A find came to be in progress or is no longer (the Stop command's
  // enabled state: SearchDriver::find_in_progress).
  void findActivityChanged(bool in_progress);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // The help topic of a control of the form (or of a part of it); empty for
  // anything else.
  QString HelpAnchor(const QObject* control) const;
  // The list's view options with the form's include-subfolders flag.
  ViewOptions CaptureViewOptionsNow() const;
  void PlaceControls();
  void FormLayout(QSize new_size);
  void OnLookInEdited(const QString& text);
  void OnFindTextEdited();
  // Runs work on the form's thread: at once when called there, else queued.
  void OnFormThread(std::function<void()> work);
  void LeaveLookIn();
  void LeaveTextBox(QComboBox* box);
  // Enables the "&Containing:" label with its box while the named box is
  // enabled and holds text; disables them otherwise.
  void UpdateContainingBox();
  void SaveHistories();
  void LoadHistories();
  void ContinueClose();
  void FinishClose();
  // Runs job on the background thread (after the previous job ended).
  void RunInBackground(std::function<void()> job);
  void JoinBackground();
  // The look-in box's text in drive form (native folders turned into their
  // drive paths).
  std::string LookInBoxText() const;
  // A look-in text in drive form as the box shows it.
  std::string ShownLookIn(const std::string& look_in) const;

  std::unique_ptr<FileTypes> types_;  // made before the driver, which uses it
  std::unique_ptr<SearchDriver> driver_;
  std::unique_ptr<LookInValidator> validator_;
  WindowWorkQueue work_;

  QLabel* look_in_label_ = nullptr;
  QLabel* named_label_ = nullptr;
  QLabel* containing_label_ = nullptr;
  QComboBox* look_in_ = nullptr;
  QComboBox* named_ = nullptr;
  QComboBox* containing_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* return_button_ = nullptr;
  ResultsView* list_ = nullptr;

  ViewOptions options_;
  QString status_;
  bool native_paths_ = false;
  QString indicator_;
  QString title_ = QStringLiteral("Quindelo");
  QString document_title_;
  bool untitled_ = true;
  int drive_entries_ = 0;
  bool initial_update_done_ = false;
  bool layout_ready_ = false;
  QSize last_size_;  // the form's size at the last layout
  bool closing_started_ = false;
  bool closed_ = false;
  int wait_cursors_ = 0;
  bool find_in_progress_ = false;  // as last told by findActivityChanged

  // The background thread for OpenDriveIndex, Refresh and Shutdown.
  std::thread background_;
  std::atomic<bool> background_done_{true};
};

}  // namespace quindelo::ui
