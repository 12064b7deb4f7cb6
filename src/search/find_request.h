// The find request and the validation of its look-in text.
//
// A find is described by the three boxes of the find form (where to look,
// which names, what contents) plus two flags. Validation turns the look-in
// text into the look-in list of folders that the drive index searches,
// opens the drive's index when the drive or its medium changed, reports any
// fault in the status line with "ERR", enables the named and containing
// boxes only for a valid text, and schedules a find when there is a named
// text.
//
// LookInValidator runs ValidateLookIn on a thread of its own, at most one at
// a time: text that changes while a validation runs is picked up by that
// validation's next pass, never by a second thread. Start, ValidateNow,
// WaitIdle and the accessors may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "base/string_list.h"
#include "base/thread_annotations.h"
#include "index/find_request.h"

namespace quindelo {

class FindWindow;
class SearchDriver;

// Longest look-in text copy (a 260-byte buffer).
inline constexpr std::size_t kMaxLookInText = 259;

class LookInValidator {
 public:
  // driver and window are not owned and must outlive the validator.
  LookInValidator(SearchDriver* driver, FindWindow* window);
  // Waits for a running validation.
  ~LookInValidator();
  LookInValidator(const LookInValidator&) = delete;
  LookInValidator& operator=(const LookInValidator&) = delete;

  // Puts text (cut to 259 characters) into the look-in text copy and starts
  // a validation thread unless one is running, which then validates the new
  // text in its next pass. Does not wait.
  void Start(const std::string& look_in_box_text);

  // Puts text into the copy and validates it on the calling thread, after
  // any running validation has finished. Returns the look-in valid flag.
  // Waits for the index when it opens one (see find_window.h).
  bool ValidateNow(const std::string& look_in_box_text);

  // Waits until no validation runs.
  void WaitIdle();

  // The outcome of the last validation pass.
  bool look_in_valid() const { return valid_.load(); }
  // The look-in text copy (a drive entry already cut to its drive).
  std::string look_in_text() const;
  // The status message the last validation pass ended with ("Ready." or a
  // fault), for callers that cannot read it off the status line because the
  // index's own messages may have followed it.
  std::string message() const;
  // Validation passes run so far (a pass is one round of the algorithm).
  int passes() const { return passes_.load(); }

 private:
  // The validation, entered with busy_ already set by the caller; clears it
  // at the end.
  void ValidateLookIn();
  // One pass over working; returns the valid flag.
  bool ValidatePass(const std::string& working);
  // Walks the folders of working; false, with the message in *fault, when
  // the text is invalid.
  bool WalkFolders(const std::string& working, char drive, StringList* list, std::string* fault);
  void SetCopy(const std::string& text);
  void Report(const std::string& text);
  void JoinThread();

  SearchDriver* const driver_;
  FindWindow* const window_;

  mutable platform::Mutex text_lock_;
  std::string text_copy_ GUARDED_BY(text_lock_);
  std::string message_ GUARDED_BY(text_lock_);

  std::atomic<bool> valid_{false};
  std::atomic<bool> busy_{false};
  std::atomic<int> passes_{0};
  platform::Mutex idle_lock_;  // with idle_cv_: busy_ became clear
  std::condition_variable idle_cv_;

  platform::Mutex thread_lock_;
  std::thread thread_ GUARDED_BY(thread_lock_);
};

}  // namespace quindelo
