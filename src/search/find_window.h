// FindWindow: what the search driver and the look-in validation tell the
// find form. The Qt form implements it; the command-line finder and tests
// implement it without any window. Nothing here returns anything to the
// core: the form hands the driver what it needs (the find request, the
// focused row), and the driver hands the form rows and messages by value.
//
// Threads. Every call but those of the last group may be made from any
// thread and never waits for the window's thread; the calls reach the
// window in the order they were made. The window's thread is the thread
// that owns the driver's ResultSet: RunLater runs work there, and the row
// calls are made only there, from such work. A window without a thread of
// its own (the command-line finder) runs the work at once on the calling
// thread; its ResultSet then belongs to whichever thread delivers the
// index's messages, one at a time.
//
// Rows: the driver collects the paths found since its last hand-over and
// hands them over in one work, at most every 50 ms while a find runs, at
// its end, and before a message that must show after them. The driver has
// no timer of its own: rows found less than 50 ms after a hand-over wait for
// the index's next found file or message, or the end of the find.
//
// Texts given to the status panes are at most 255 characters (the driver
// cuts them).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "search/result_set.h"

namespace quindelo {

// The Refresh command, posted when a find that was running when Refresh was
// asked for has ended.
inline constexpr int kCommandRefresh = 32784;

class FindWindow {
 public:
  virtual ~FindWindow() = default;

  // ---- Any thread; never waits.

  // Runs work on the window's thread after the calls made before it. The
  // work refers to the driver: a window destroys its driver only where no
  // such work can run any more (on its own thread, or once its queue is
  // drained).
  virtual void RunLater(std::function<void()> work) = 0;

  // The message pane (pane 0) and the indicator pane (pane 1: "BUSY",
  // "ERR" or " ").
  virtual void SetStatusText(const char* text) = 0;
  virtual void SetIndicatorText(const char* text) = 0;

  // Posts a close request to the form (the deferred close after a find).
  virtual void PostCloseRequest() = 0;
  // Posts a command to the form, such as kCommandRefresh.
  virtual void PostCommand(int command) = 0;
  // Whether a find is in progress (SearchDriver::find_in_progress) may have
  // changed: a find was scheduled, started, stopped or ended. A window that
  // enables a Stop command reads the state again on its own thread.
  virtual void FindActivityChanged() {}

  // The look-in verdict: enables the "&Named:" label and box while the
  // look-in text is valid, and the "&Containing:" label and box while it is
  // valid and the named box holds text. The window reads its named box when
  // it applies the call, so a verdict that reaches it after the user typed
  // a name still enables the containing box.
  virtual void EnableBoxes(bool look_in_valid) = 0;
  // Puts the input focus into the look-in box.
  virtual void FocusLookIn() {}
  // Sets the main window's title from the named text when the document is
  // untitled; does nothing for a document from a file.
  virtual void UpdateTitle(const std::string& named) { (void)named; }
  // Shows or ends the wait cursor.
  virtual void SetWaitCursor(bool wait) { (void)wait; }
  // Brings the whole form up to date on the screen.
  virtual void RepaintForm() {}

  // ---- The window's thread, from work of RunLater.

  // These row ranges of rows were inserted (ascending, in the final
  // numbering). A model listening to the ResultSet has announced them
  // already; this is for what else the window does with new rows.
  virtual void RowsInserted(const ResultSet& rows, const std::vector<RowRange>& ranges) {
    (void)rows;
    (void)ranges;
  }
  // Every row was deleted; the list repaints at once.
  virtual void RowsDeleted() {}
  // Gives row the selected and focused states and scrolls it into view
  // (Refresh's reselect row once its find has ended).
  virtual void SelectRow(int row) { (void)row; }
  // The name phase is over: the list fits its columns and repaints, and its
  // rows fetch their details.
  virtual void DetailsDue() {}
};

}  // namespace quindelo
