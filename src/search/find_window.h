// FindWindow: what the search driver and the look-in validation need of the
// find form. The Qt form implements it; tests and the command-line finder
// implement it without any window (headless_find_window.h).
//
// Threads. The driver runs on several threads: the user-interface thread
// (edits, Stop, Refresh, closing), the validation thread, the find starter
// thread, the index's notify thread (found files, phase messages, the end of
// a find) and the index workers (polls, which never touch the window). The
// methods below fall into three groups:
//
//   Window-thread calls: everything not listed in the other two groups. The
//   driver makes them only inside RunOnWindowThread, so that the rows, their
//   records and the controls are only ever touched by the window's own
//   thread (records are compared and their details fetched there, see
//   search/found_file.h).
//
//   RunOnWindowThread: called from any thread; runs the work on the window
//   thread and returns when it is done (a blocking queued call in the Qt
//   form; a call on the window thread itself runs the work at once).
//
//   Any-thread calls: SetStatusText, SetIndicatorText, PostCloseRequest,
//   PostCommand and FindActivityChanged. They must not wait for the window
//   thread (the Qt form queues them); the status texts must appear in the
//   order of the calls.
//
// Rows: the driver keeps the rows found since its last hand-over and hands
// them to the window in one InsertRows call, at most every 50 ms while a
// find runs, at its end, and before a message that must show after them. So
// the notify thread waits for the window thread once per batch, not once
// per found file. The driver has no timer of its own: rows found less than
// 50 ms after a hand-over wait for the index's next found file or message,
// or the end of the find.
//
// Waiting: RunOnWindowThread from the notify thread waits for the window
// thread, and the driver's OpenDriveIndex, Refresh and Shutdown wait for the
// notify thread. A window whose RunOnWindowThread blocks must therefore make
// those three calls from a thread of its own (as validation already runs),
// never from the window thread itself.
//
// Rows are numbered from 0. Texts given to the status panes are at most 255
// characters (the driver cuts them).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "search/found_file.h"

namespace quindelo {

// The Refresh command, posted when a find that was running when Refresh was
// asked for has ended.
inline constexpr int kCommandRefresh = 32784;

// One row of a batch handed to the window: where it stands once the whole
// batch is in, and its record.
struct RowInsert {
  int position;
  FoundFile* record;
};

class FindWindow {
 public:
  virtual ~FindWindow() = default;

  // ---- Any thread.

  // Runs work on the window thread and returns once it has run.
  virtual void RunOnWindowThread(const std::function<void()>& work) = 0;

  // The message pane (pane 0) and the indicator pane (pane 1: "BUSY",
  // "ERR" or " ").
  virtual void SetStatusText(const char* text) = 0;
  virtual void SetIndicatorText(const char* text) = 0;

  // Posts a close request to the form (the deferred close after a find).
  // Never waits.
  virtual void PostCloseRequest() = 0;
  // Posts a command to the form, such as kCommandRefresh. Never waits.
  virtual void PostCommand(int command) = 0;
  // Whether a find is in progress (SearchDriver::find_in_progress) may have
  // changed: a find was scheduled, started, stopped or ended. Never waits; a
  // window that enables a Stop command reads the state again on its own
  // thread.
  virtual void FindActivityChanged() {}

  // ---- Window thread (inside RunOnWindowThread).

  // Results list.
  virtual int RowCount() = 0;
  // The record of a row; null when the row cannot be read.
  virtual FoundFile* RowRecord(int row) = 0;
  // Inserts a batch of rows. rows is in ascending order of position, and
  // each position is the row's place in the list once the whole batch is in
  // (0 <= position < RowCount() + rows.size()); inserting them one by one in
  // this order, each before the row now at its position, gives that list.
  // Each row's texts (and its image, while icons are shown) are supplied on
  // demand. A window may leave rows out (the command-line finder drops names
  // that are gone from the disk); RowCount() afterwards tells what it kept.
  virtual void InsertRows(const std::vector<RowInsert>& rows) = 0;
  // Deletes every row and repaints the list at once. After it returns the
  // window holds no record pointer.
  virtual void DeleteAllRows() = 0;
  // The row that has the focus, or -1.
  virtual int FocusedRow() = 0;
  // Gives row the selected and focused states; false when that failed.
  virtual bool SelectRow(int row) = 0;
  virtual void ScrollRowIntoView(int row) = 0;
  // Fits the list's columns to its width (no column fixed).
  virtual void FitColumns() = 0;
  // Repaints the list, erasing the background first when erase is set.
  virtual void RepaintList(bool erase) = 0;
  // Brings the whole form up to date on the screen.
  virtual void RepaintForm() = 0;

  // Boxes of the form: the current texts of the named and containing boxes.
  virtual std::string NamedText() = 0;
  virtual std::string ContainingText() = 0;
  // Enables or disables the "&Named:" label with its box, and the
  // "&Containing:" label with its box.
  virtual void EnableNamed(bool enable) = 0;
  virtual void EnableContaining(bool enable) = 0;
  // Puts the input focus into the look-in box.
  virtual void FocusLookIn() = 0;
  // Sets the main window's title from the named text when the document is
  // untitled; does nothing for a document from a file.
  virtual void UpdateTitle(const std::string& named) = 0;
  // Shows or ends the wait cursor.
  virtual void SetWaitCursor(bool wait) = 0;
};

}  // namespace quindelo
