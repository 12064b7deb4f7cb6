// HeadlessFindWindow: a FindWindow without any window, for the command-line
// finder and tests. The rows are a vector of record pointers, the two panes
// keep their latest text, and posted commands and close requests are kept
// until taken.
//
// The "window thread" is simulated by a lock: RunOnWindowThread runs its work
// on the calling thread while holding that lock, so that works from several
// threads never overlap. Every method may be called from any thread; the
// state is guarded by its own lock. Reading Rows() while a find inserts rows
// gives a consistent copy, but the records themselves belong to the window
// thread: read their fields after the find has ended.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "search/find_window.h"

namespace quindelo {

class HeadlessFindWindow : public FindWindow {
 public:
  HeadlessFindWindow() = default;

  // The texts of the named and containing boxes.
  void SetNamedText(const std::string& text);
  void SetContainingText(const std::string& text);

  // A copy of the rows, in list order.
  std::vector<FoundFile*> Rows() const;
  // The latest texts of the two panes (empty before the first write).
  std::string status() const;
  std::string indicator() const;
  bool named_enabled() const;
  bool containing_enabled() const;
  // The row last selected through SelectRow, or -1.
  int selected_row() const;
  // Gives row the focus, as a click would (for Refresh's reselect row).
  void SetFocusedRow(int row);
  // Posted commands since the last call, in order; and the number of close
  // requests posted so far.
  std::vector<int> TakePostedCommands();
  int close_requests() const;

  // FindWindow.
  void RunOnWindowThread(const std::function<void()>& work) override;
  void SetStatusText(const char* text) override;
  void SetIndicatorText(const char* text) override;
  void PostCloseRequest() override;
  void PostCommand(int command) override;
  int RowCount() override;
  FoundFile* RowRecord(int row) override;
  void InsertRows(const std::vector<RowInsert>& rows) override;
  void DeleteAllRows() override;
  int FocusedRow() override;
  bool SelectRow(int row) override;
  void ScrollRowIntoView(int row) override;
  void FitColumns() override {}
  void RepaintList(bool) override {}
  void RepaintForm() override {}
  std::string NamedText() override;
  std::string ContainingText() override;
  void EnableNamed(bool enable) override;
  void EnableContaining(bool enable) override;
  void FocusLookIn() override {}
  void UpdateTitle(const std::string&) override {}
  void SetWaitCursor(bool) override {}

 protected:
  // Serialises the works of RunOnWindowThread, standing in for the thread.
  std::recursive_mutex window_thread_;
  mutable platform::Mutex mutex_;
  std::vector<FoundFile*> rows_ GUARDED_BY(mutex_);
  std::string status_ GUARDED_BY(mutex_);
  std::string indicator_ GUARDED_BY(mutex_);
  std::string named_ GUARDED_BY(mutex_);
  std::string containing_ GUARDED_BY(mutex_);
  bool named_enabled_ GUARDED_BY(mutex_) = false;
  bool containing_enabled_ GUARDED_BY(mutex_) = false;
  int focused_row_ GUARDED_BY(mutex_) = -1;
  int selected_row_ GUARDED_BY(mutex_) = -1;
  std::vector<int> posted_commands_ GUARDED_BY(mutex_);
  int close_requests_ GUARDED_BY(mutex_) = 0;
};

}  // namespace quindelo
