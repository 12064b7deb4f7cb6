// Promises of message reporting: pane texts and their limits, warnings shown
// once with the product caption, raised errors thrown with their record, the
// last error record, the out-of-memory handler, and use from many threads.
#include "base/message_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quindelo {
namespace {

class RecordingSink : public MessageSink {
 public:
  void SetIndicator(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    indicator.push_back(text);
  }
  void SetStatus(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    status.push_back(text);
  }
  int ShowWarning(const char* caption, const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    captions.push_back(caption);
    warnings.push_back(text);
    return kMessageBoxOk;
  }

  std::vector<std::string> indicator, status, captions, warnings;

 private:
  std::mutex mutex_;
};

// Installs a recording sink for one test and restores the default after it.
class MessageReportTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetMessageSink(&sink_); }
  void TearDown() override { EXPECT_EQ(SetMessageSink(previous_), &sink_); }

  RecordingSink sink_;
  MessageSink* previous_ = nullptr;
};

TEST_F(MessageReportTest, PanesGetFormattedTextsOrABlank) {
  ReportStatus("Found %d files in %s.", 12, "C:\\Windows");
  ReportStatus();
  ReportMessage(kLevelStatus, nullptr);
  ReportIndicator("BUSY");
  ReportIndicator();
  EXPECT_EQ(sink_.status, (std::vector<std::string>{"Found 12 files in C:\\Windows.", " ", " "}));
  EXPECT_EQ(sink_.indicator, (std::vector<std::string>{"BUSY", " "}));
  EXPECT_TRUE(sink_.warnings.empty());
}

TEST_F(MessageReportTest, LongTextsAreCutToTheirBuffers) {
  const std::string long_text(300, 's');
  ReportStatus("%s", long_text.c_str());
  ReportIndicator("%s!", long_text.c_str());
  ASSERT_EQ(sink_.status.size(), 1u);
  EXPECT_EQ(sink_.status[0], long_text.substr(0, 255));
  EXPECT_EQ(sink_.indicator[0].size(), 255u);

  const std::string huge(5000, 'w');
  ReportWarning("%s", huge.c_str());
  ASSERT_EQ(sink_.warnings.size(), 1u);
  EXPECT_EQ(sink_.warnings[0], huge.substr(0, 1023));
  EXPECT_EQ(std::strlen(LastError().text), 1023u);
}

TEST_F(MessageReportTest, WarningShowsOneBoxAndStaysInTheLastErrorRecord) {
  ReportWarning("File \"%s\" is not a Quindelo file.", "/tmp/x.qnd");
  ASSERT_EQ(sink_.warnings.size(), 1u);
  EXPECT_EQ(sink_.captions[0], "Pemblet Quindelo");
  EXPECT_EQ(sink_.warnings[0], "File \"/tmp/x.qnd\" is not a Quindelo file.");
  const ErrorStruct last = LastError();
  EXPECT_EQ(last.kind, 1);
  EXPECT_EQ(last.level, kLevelWarning);
  EXPECT_STREQ(last.text, "File \"/tmp/x.qnd\" is not a Quindelo file.");
  EXPECT_TRUE(sink_.status.empty());
}

TEST_F(MessageReportTest, WarningsAndRaisesWithoutAFormatDoNothing) {
  ReportWarning("before");
  ReportMessage(kLevelWarning, nullptr);
  EXPECT_NO_THROW(ReportMessage(kLevelRaise, nullptr));
  ReportMessage(1, "unknown level");
  ReportMessage(6, "unknown level");
  EXPECT_EQ(sink_.warnings.size(), 1u);
  EXPECT_STREQ(LastError().text, "before");
  EXPECT_TRUE(sink_.status.empty());
  EXPECT_TRUE(sink_.indicator.empty());
}

TEST_F(MessageReportTest, RaiseThrowsTheRecordAndAStoppedErrorShowsNoBox) {
  try {
    RaiseError("Mismatched parenthesis in the expression");
    FAIL() << "RaiseError returned";
  } catch (ErrorStruct& error) {
    EXPECT_EQ(error.kind, 1);
    EXPECT_EQ(error.level, kLevelRaise);
    EXPECT_EQ(error.flag, 0);
    EXPECT_EQ(error.value, -1);
    EXPECT_EQ(error.show_pending, 1);
    EXPECT_STREQ(error.text, "Mismatched parenthesis in the expression");
  }
  EXPECT_TRUE(sink_.warnings.empty());
  EXPECT_STREQ(LastError().text, "Mismatched parenthesis in the expression");
  EXPECT_EQ(LastError().level, kLevelRaise);

  // ReportMessage at level 5 raises the same way, through a handler that
  // passes the error on.
  try {
    try {
      ReportMessage(kLevelRaise, "Word %s too long", "xyz");
    } catch (ErrorStruct&) {
      throw;  // a handler that releases its locks and passes the error on
    }
    FAIL() << "ReportMessage returned at level 5";
  } catch (const ErrorStruct& error) {
    EXPECT_STREQ(error.text, "Word xyz too long");
  }
  EXPECT_STREQ(LastError().text, "Word xyz too long");
  EXPECT_TRUE(sink_.warnings.empty());
}

TEST_F(MessageReportTest, ShowRaisedMessageShowsAPendingErrorOnce) {
  ErrorStruct caught;
  try {
    RaiseError("Cannot open %s", "C:\\x");
  } catch (const ErrorStruct& error) {
    caught = error;
  }
  EXPECT_EQ(ShowRaisedMessage(caught), kMessageBoxOk);
  EXPECT_EQ(caught.show_pending, 0);
  EXPECT_EQ(ShowRaisedMessage(caught), 0);
  ASSERT_EQ(sink_.warnings.size(), 1u);
  EXPECT_EQ(sink_.warnings[0], "Cannot open C:\\x");
  EXPECT_EQ(sink_.captions[0], "Pemblet Quindelo");
}

TEST_F(MessageReportTest, RaiseWithANullFormatStillRaises) {
  EXPECT_THROW(RaiseError(nullptr), ErrorStruct);
  EXPECT_STREQ(LastError().text, "");
}

TEST_F(MessageReportTest, OutOfMemoryIsRaisedAsAnErrorAndAsBadAlloc) {
  const std::new_handler previous = InstallOutOfMemoryHandler();
  const std::new_handler handler = std::get_new_handler();
  ASSERT_NE(handler, nullptr);
  try {
    handler();  // what operator new runs after a failed allocation
    FAIL() << "the handler returned";
  } catch (const ErrorStruct& error) {
    EXPECT_STREQ(error.text, "Out of memory");
    EXPECT_EQ(error.level, kLevelRaise);
  }
  EXPECT_STREQ(LastError().text, "Out of memory");
  EXPECT_THROW(RaiseOutOfMemory(), std::bad_alloc);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A real failure (the sanitizers' allocators abort instead of failing).
  volatile std::size_t impossible = std::size_t{1} << 62;
  try {
    void* p = ::operator new(impossible);
    ::operator delete(p);
    ADD_FAILURE() << "an allocation of 4 EiB succeeded";
  } catch (const OutOfMemoryError& error) {
    EXPECT_STREQ(error.what(), "Out of memory");
  }
#endif
  std::set_new_handler(previous);
  EXPECT_TRUE(sink_.warnings.empty());
}

TEST_F(MessageReportTest, ReportsFromManyThreadsKeepTheLastErrorRecordWhole) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string text(100 + t, static_cast<char>('a' + t));
      for (int i = 0; i < kRounds; ++i) {
        ReportStatus("%d", i);
        if (i % 2) {
          ReportWarning("%s", text.c_str());
        } else {
          try {
            RaiseError("%s", text.c_str());
          } catch (const ErrorStruct&) {
          }
        }
        const ErrorStruct last = LastError();
        // Whole texts only: one letter repeated as often as its writer wrote it.
        const std::size_t length = std::strlen(last.text);
        ASSERT_GE(length, 100u);
        ASSERT_EQ(std::string(last.text), std::string(length, last.text[0]));
        ASSERT_EQ(length, 100u + static_cast<std::size_t>(last.text[0] - 'a'));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(sink_.status.size(), static_cast<std::size_t>(kThreads * kRounds));
  EXPECT_EQ(sink_.warnings.size(), static_cast<std::size_t>(kThreads * kRounds / 2));
}

TEST(MessageReportDefaultSink, IsRestoredAndAcceptsEveryLevel) {
  EXPECT_EQ(SetMessageSink(nullptr), nullptr);
  ReportStatus("dropped");
  ReportIndicator("dropped");
  testing::internal::CaptureStderr();
  ReportWarning("to %s", "stderr");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Pemblet Quindelo: to stderr\n");
  EXPECT_STREQ(LastError().text, "to stderr");
}

}  // namespace
}  // namespace quindelo
