#include "base/message_report.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/mutex.h"

namespace quindelo {
namespace {

constexpr char kOutOfMemoryText[] = "Out of memory";

// Drops pane texts; warnings go to standard error so that a tool without a
// window still shows them.
class DefaultSink : public MessageSink {
 public:
  void SetIndicator(const char*) override {}
  void SetStatus(const char*) override {}
  int ShowWarning(const char* caption, const char* text) override {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return kMessageBoxOk;
  }
};

DefaultSink default_sink;
std::atomic<MessageSink*> installed_sink{nullptr};

// The last error record. A whole record is copied under the lock so that a
// reader never sees half of one writer's text and half of another's.
platform::Mutex last_error_mutex;
ErrorStruct last_error GUARDED_BY(last_error_mutex);

void RecordLastError(const ErrorStruct& error) {
  platform::MutexLock lock(&last_error_mutex);
  last_error = error;
}

void FillError(ErrorStruct& error, int level) {
  error.kind = 1;
  error.level = level;
  error.flag = 0;
  error.value = -1;
  error.show_pending = 1;
}

void WritePane(int level, const char* format, std::va_list args) {
  char text[kPaneTextSize];
  if (format) {
    std::vsnprintf(text, sizeof text, format, args);
  } else {
    text[0] = ' ';
    text[1] = '\0';
  }
  MessageSink& sink = CurrentMessageSink();
  if (level == kLevelIndicator) {
    sink.SetIndicator(text);
  } else {
    sink.SetStatus(text);
  }
}

void ShowWarningBox(ErrorStruct& error) {
  CurrentMessageSink().ShowWarning(kMessageCaption, error.text);
  error.show_pending = 0;
}

[[noreturn]] void Raise(ErrorStruct& error) {
  RecordLastError(error);
  throw error;
}

[[noreturn]] void OnOutOfMemory() {
  // Allocates nothing of its own: the exception object comes from the
  // runtime's emergency pool when the heap is exhausted.
  OutOfMemoryError error;
  RecordLastError(error);
  throw error;
}

}  // namespace

OutOfMemoryError::OutOfMemoryError() {
  FillError(*this, kLevelRaise);
  std::memcpy(text, kOutOfMemoryText, sizeof kOutOfMemoryText);
}

const char* OutOfMemoryError::what() const noexcept { return text; }

MessageSink::~MessageSink() = default;

MessageSink* SetMessageSink(MessageSink* sink) { return installed_sink.exchange(sink); }

MessageSink& CurrentMessageSink() {
  MessageSink* sink = installed_sink.load();
  return sink ? *sink : default_sink;
}

void ReportMessageV(int level, const char* format, std::va_list args) {
  switch (level) {
    case kLevelIndicator:
    case kLevelStatus:
      WritePane(level, format, args);
      return;
    case kLevelWarning:
    case kLevelRaise:
      break;
    default:
      return;
  }
  if (!format) return;
  ErrorStruct error;
  FillError(error, level);
  std::vsnprintf(error.text, sizeof error.text, format, args);
  if (level == kLevelRaise) Raise(error);
  RecordLastError(error);
  ShowWarningBox(error);
}

void ReportMessage(int level, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  try {
    ReportMessageV(level, format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void ReportIndicator() { ReportMessage(kLevelIndicator, nullptr); }

void ReportIndicator(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ReportMessageV(kLevelIndicator, format, args);
  va_end(args);
}

void ReportStatus() { ReportMessage(kLevelStatus, nullptr); }

void ReportStatus(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ReportMessageV(kLevelStatus, format, args);
  va_end(args);
}

void ReportWarning(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ReportMessageV(kLevelWarning, format, args);
  va_end(args);
}

void RaiseError(const char* format, ...) {
  ErrorStruct error;
  FillError(error, kLevelRaise);
  if (format) {
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(error.text, sizeof error.text, format, args);
    va_end(args);
  }
  Raise(error);
}

int ShowRaisedMessage(ErrorStruct& error) {
  if (!error.show_pending) return 0;
  const int answer = CurrentMessageSink().ShowWarning(kMessageCaption, error.text);
  error.show_pending = 0;
  return answer;
}

ErrorStruct LastError() {
  platform::MutexLock lock(&last_error_mutex);
  return last_error;
}

std::new_handler InstallOutOfMemoryHandler() { return std::set_new_handler(&OnOutOfMemory); }

void RaiseOutOfMemory() { OnOutOfMemory(); }

}  // namespace quindelo
