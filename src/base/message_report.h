// Message reporting: the one routine through which every part of the program
// talks to the user.
//
//   level 2, indicator: a short text for the status bar's indicator pane
//                       ("BUSY", "ERR", or " " when idle);
//   level 3, status:    a text for the status bar's message pane;
//   level 4, warning:   a modal warning box captioned "Pemblet Quindelo";
//   level 5, raise:     an ErrorStruct thrown as a C++ exception to the
//                       nearest handler that catches ErrorStruct.
//
// Warnings and raised errors are first copied into the last error record, a
// process-wide ErrorStruct that always holds the latest of them (the search
// driver reads it to show a compiler error in the status line).
//
// Where the texts go is decided by the process's MessageSink: the window
// installs one that writes its status bar and shows message boxes; a
// command-line tool or a test installs its own. The default sink drops pane
// texts and writes warnings to standard error.
//
// Thread-safety: every function may be called from any thread. The last
// error record is guarded by a lock of its own (reads return a whole copy).
// Sink calls are made on the calling thread with no lock held; a sink that
// must run on the user-interface thread forwards the call itself.
//
// Texts are cut to their buffers: 255 characters for the panes, 1023 for
// warnings and raised errors.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <new>

namespace quindelo {

enum MessageLevel : int {
  kLevelIndicator = 2,
  kLevelStatus = 3,
  kLevelWarning = 4,
  kLevelRaise = 5,
};

// Caption of every warning box.
inline constexpr char kMessageCaption[] = "Pemblet Quindelo";
// The answer of a warning box's OK button.
inline constexpr int kMessageBoxOk = 1;
// Buffer sizes, terminating NUL included.
inline constexpr std::size_t kPaneTextSize = 256;
inline constexpr std::size_t kErrorTextSize = 1024;

// The record that a warning or a raise builds, and that a raise throws.
struct ErrorStruct {
  std::int32_t kind = 0;          // 1 when built by ReportMessage
  std::int32_t level = 0;         // kLevelWarning or kLevelRaise
  std::int16_t flag = 0;          // 0 from ReportMessage
  std::int16_t value = 0;         // -1 from ReportMessage
  char text[kErrorTextSize] = {};  // the formatted message, NUL-terminated
  std::int16_t show_pending = 0;  // 1 until the message was shown in a box
};

// What the out-of-memory handler throws: an ErrorStruct reading
// "Out of memory" that standard code also catches as std::bad_alloc.
class OutOfMemoryError : public std::bad_alloc, public ErrorStruct {
 public:
  OutOfMemoryError();
  const char* what() const noexcept override;
};

// Where reported texts go. Implementations may be called from any thread,
// possibly from several at once.
class MessageSink {
 public:
  virtual ~MessageSink();
  // Writes text into the indicator pane (pane 1) and shows it at once.
  virtual void SetIndicator(const char* text) = 0;
  // Writes text into the message pane (pane 0) and shows it at once.
  virtual void SetStatus(const char* text) = 0;
  // Shows a modal warning box with an OK button, owned by the main window
  // when there is one; returns the box's answer (kMessageBoxOk).
  virtual int ShowWarning(const char* caption, const char* text) = 0;
};

// Makes sink the process's sink; nullptr restores the default. Returns the
// sink that was in place (nullptr when it was the default).
// REQUIRES: sink outlives every report that may reach it: install it before
// the threads that report start, and remove it after they stop.
MessageSink* SetMessageSink(MessageSink* sink);

// The sink in place (the default one when none was set).
MessageSink& CurrentMessageSink();

// Formats a printf-style text and reports it at level (2 to 5, others are
// ignored). Levels 2 and 3 with a null format write " "; levels 4 and 5
// with a null format do nothing. At level 5 it throws ErrorStruct and does
// not return.
void ReportMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ReportMessageV(int level, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));

// The shorthands.
void ReportIndicator();  // writes " "
void ReportIndicator(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ReportStatus();  // writes " "
void ReportStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ReportWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Never returns: unlike ReportMessage at level 5, a null format raises an
// empty text rather than going on as if nothing had failed.
[[noreturn]] void RaiseError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// For a handler that caught a raised error and decides the user should see
// it: when error.show_pending is set, shows the warning box, clears the
// flag and returns the box's answer; otherwise does nothing and returns 0.
int ShowRaisedMessage(ErrorStruct& error);

// A copy of the last error record (all zero before the first warning or
// raise).
ErrorStruct LastError();

// Installs the handler that runs when an allocation by new fails: it
// records "Out of memory" as a raise does and throws OutOfMemoryError.
// Returns the handler that was installed before.
std::new_handler InstallOutOfMemoryHandler();

// Records and throws "Out of memory", for code that notices an allocation
// failure itself.
[[noreturn]] void RaiseOutOfMemory();

}  // namespace quindelo
