// The "&Return to Open Dialog" button of the find form: another program's
// open dialog is looked for each time the main window is activated, the
// button shows only while one is found and is enabled exactly while one row
// of the results list is selected, a dialog just found puts its file type
// into an empty Named box, and the button writes the selected file's path
// into the dialog and brings it to the front.
//
// Threads: the object lives on the window thread. Every call to the
// accessibility tree runs on its own bus thread, one at a time; a search
// asked for while one is running is folded into one more search after it.
// Answers come back to the window thread as queued calls, which are dropped
// when the object is gone (its destructor waits for the bus thread).
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "commands/open_dialog_return.h"

namespace quindelo::ui {

class FindForm;

class OpenDialogReturn : public QObject {
  Q_OBJECT

 public:
  // Makes the desktop on the bus thread, once, on first use.
  using DesktopFactory = std::function<std::unique_ptr<commands::AccessibleDesktop>()>;
  // warn shows a message; minimize hides the main window once the path has
  // been returned. A null factory means the desktop's accessibility bus.
  OpenDialogReturn(FindForm* form, std::function<void(const QString&)> warn,
                   std::function<void()> minimize, DesktopFactory factory = nullptr);
  ~OpenDialogReturn() override;

  // Looks for a dialog (the main window was activated).
  void Search();
  // The button: the selected file to the dialog, or a message.
  void ReturnSelectedFile();

  // How many searches have been answered (tests wait on it).
  int searches_answered() const { return searches_answered_; }
  int returns_answered() const { return returns_answered_; }

 private:
  enum class Job { kSearch, kReturn };
  void Run();
  void Post(Job job, std::string path);
  void ShowButton(bool shown);
  // Enables the button exactly while one row is selected.
  void FollowSelection();
  void Searched(const commands::OpenDialogState& state);
  void Returned(commands::ReturnOutcome outcome);

  FindForm* form_;
  std::function<void(const QString&)> warn_;
  std::function<void()> minimize_;
  DesktopFactory factory_;
  int searches_answered_ = 0;
  int returns_answered_ = 0;

  platform::Mutex mutex_;
  std::condition_variable wake_;
  bool stop_ GUARDED_BY(mutex_) = false;
  bool search_wanted_ GUARDED_BY(mutex_) = false;
  std::deque<std::string> returns_ GUARDED_BY(mutex_);
  std::thread thread_;
};

}  // namespace quindelo::ui
