#include "search/find_request.h"
#include "platform/thread_name.h"

#include <cstdio>
#include <cstring>

#include "base/ascii.h"
#include "base/message_report.h"
#include "platform/folder.h"
#include "platform/paths.h"
#include "search/find_window.h"
#include "search/search_driver.h"

namespace quindelo {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Formats a message-pane text into a buffer of 388 bytes, cut to the pane's
// 255 characters.
template <typename... Args>
std::string PaneText(const char* format, Args... args) {
  char text[388];
  std::snprintf(text, sizeof text, format, args...);
  text[kPaneTextSize - 1] = 0;
  return text;
}

// A look-in text as validation takes it: a drive entry such as "C: [SYSTEM]"
// cut to its drive, and at most 259 characters.
std::string CutLookIn(std::string text) {
  if (text.size() > 2 && text[2] == ' ') text.resize(2);
  if (text.size() > kMaxLookInText) text.resize(kMaxLookInText);
  return text;
}

}  // namespace

LookInValidator::LookInValidator(SearchDriver* driver, FindWindow* window)
    : driver_(driver), window_(window) {}

LookInValidator::~LookInValidator() {
  WaitIdle();
  JoinThread();
}

void LookInValidator::SetCopy(const std::string& text) {
  platform::MutexLock lock(&text_lock_);
  text_copy_ = CutLookIn(text);
}

void LookInValidator::Report(const std::string& text) {
  window_->SetStatusText(text.c_str());
  platform::MutexLock lock(&text_lock_);
  message_ = text;
}

std::string LookInValidator::message() const {
  platform::MutexLock lock(&text_lock_);
  return message_;
}

std::string LookInValidator::look_in_text() const {
  platform::MutexLock lock(&text_lock_);
  return text_copy_;
}

void LookInValidator::JoinThread() {
  platform::MutexLock lock(&thread_lock_);
  if (thread_.joinable()) thread_.join();
}

void LookInValidator::Start(const std::string& look_in_box_text) {
  SetCopy(look_in_box_text);
  if (busy_.exchange(true)) return;  // the running validation sees the new text
  // The thread that ran before has cleared busy_ as its last step, so this
  // join does not wait for a validation.
  platform::MutexLock lock(&thread_lock_);
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this] {
    platform::NameThisThread("q-look-in");
    ValidateLookIn();
  });
}

bool LookInValidator::ValidateNow(const std::string& look_in_box_text) {
  SetCopy(look_in_box_text);
  for (;;) {
    if (!busy_.exchange(true)) break;
    WaitIdle();
  }
  ValidateLookIn();
  return valid_.load();
}

void LookInValidator::WaitIdle() {
  platform::MutexLock lock(&idle_lock_);
  while (busy_.load()) idle_lock_.Wait(&idle_cv_);
}

void LookInValidator::ValidateLookIn() {
  for (;;) {
    std::string working = look_in_text();
    valid_ = ValidatePass(working);
    ++passes_;
    if (look_in_text() != working) continue;  // the user went on typing
    {
      platform::MutexLock lock(&idle_lock_);
      busy_ = false;
    }
    idle_cv_.notify_all();
    // Text stored after the comparison but before busy_ was cleared found
    // busy_ set and left its validation to us: take it on when no one else
    // has.
    if (look_in_text() == working || busy_.exchange(true)) return;
  }
}

bool LookInValidator::ValidatePass(const std::string& working) {
  valid_ = false;
  bool valid = false;
  // The fault of an invalid text, shown once a find of an earlier text has
  // stopped, so that nothing of that find follows it on the status line.
  std::string fault;
  if (working.size() < 2 || !ascii::IsLetter(working[0]) || working[1] != ':') {
    fault = "Look in folder does not start with drive letter!";
  } else {
    // Drive check: open the drive's index when it is not the open one, or
    // when the medium of a removable drive was exchanged.
    char drive = ascii::ToUpper(working[0]);
    if (driver_->DriveNeedsOpening(drive)) {
      valid = driver_->OpenDriveIndex(working, false);
      if (!valid) {
        // The driver has shown the fault; keep it as this pass's message.
        platform::MutexLock lock(&text_lock_);
        message_ = PaneText("Unable to open index for drive %2.2s!", working.c_str());
      }
    } else
      valid = true;
    StringList list;
    // C: or C:\ is the whole drive; C:x is a folder without its backslash,
    // refused by the walk rather than taken for the whole drive.
    const bool whole_drive = working.size() == 2 || (working.size() == 3 && working[2] == '\\');
    if (valid && !whole_drive)
      valid = WalkFolders(working, driver_->open_drive_letter(), &list, &fault);
    driver_->SetLookInList(list);
  }

  if (valid) {
    driver_->SetLookInFault(false);
    Report("Ready.");
  } else {
    // A find scheduled from an earlier text is cancelled and a running one
    // stops; its rows, of another scope, leave the list.
    driver_->SetLookInFault(true);
    driver_->StopAndEmptyResults();
    if (!fault.empty()) Report(fault);
  }
  // Published before the boxes are enabled: an edit of the named box made
  // after that step reads this verdict, not the cleared one of the pass.
  valid_ = valid;
  window_->SetIndicatorText(valid ? " " : "ERR");
  if (!valid) window_->FocusLookIn();
  const bool named = !driver_->named_text().empty();
  window_->EnableBoxes(valid);
  if (valid && named) {
    driver_->ClearFirstFindLatch();
    driver_->ScheduleFind();
  }
  return valid;
}

bool LookInValidator::WalkFolders(const std::string& working, char drive, StringList* list,
                                  std::string* fault) {
  bool some_folder_exists = false;
  std::size_t at = 0;
  const std::size_t end = working.size();
  for (;;) {
    while (at < end && IsSpace(working[at])) ++at;
    if (at >= end) break;
    std::size_t semicolon = working.find(';', at);
    std::size_t stop = semicolon == std::string::npos ? end : semicolon;
    std::size_t last = stop;
    while (last > at && IsSpace(working[last - 1])) --last;
    std::string element = working.substr(at, last - at);
    if (!element.empty()) {
      std::string rest = element;
      if (element.size() >= 2 && ascii::IsLetter(element[0]) && element[1] == ':') {
        if (ascii::ToUpper(element[0]) != drive) {
          *fault = PaneText("Folder \"%s\" must be on drive %c:!", element.c_str(), drive);
          return false;
        }
        rest = element.substr(2);
      }
      if (rest.empty() || rest[0] != '\\') {
        *fault = PaneText("Folder \"%s\" must start with a \"\\\"!", rest.c_str());
        return false;
      }
      list->Append(rest);
      std::string full = std::string(1, drive) + ":" + rest;
      if (full.size() > kMaxLookInText) full.resize(kMaxLookInText);
      std::string native;
      std::uint32_t attributes = 0;
      if (platform::ToNativePath(full, &native) && platform::GetFileAttributes(native, &attributes))
        some_folder_exists = true;
    }
    if (semicolon == std::string::npos) break;
    at = semicolon + 1;
  }
  if (!some_folder_exists) {
    if (working.find(';') != std::string::npos)
      *fault = "None of the look in folders exist!";
    else
      *fault = PaneText("Folder \"%s\" does not exist!", working.c_str());
    return false;
  }
  return true;
}

}  // namespace quindelo
