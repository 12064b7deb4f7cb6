// Cell texts of the results list: size and date formats, names without
// extensions, the selection status line and the cut to the cell buffer.
#include "search/cell_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/folder.h"

namespace quindelo {
namespace {

TEST(SizeText, BytesKilobytesAndMegabytes) {
  struct Case {
    std::uint32_t size;
    const char* text;
  } cases[] = {
      {0, "0"},
      {999, "999"},
      {1000, "1,000"},
      {1001, "1,001"},
      {9999, "9,999"},
      {10000, "10 K"},
      {10752, "10 K"},
      {10753, "11 K"},
      {1023488, "999 K"},
      {1023489, "1,000 K"},
      {1048576 + 5 * 1024, "1,029 K"},
      {1023999488, "999,999 K"},
      {1023999489, "977 M"},
      {4294967294u, "4096 M"},
      {4294967295u, "4096 M"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, SizeText(c.size)) << c.size;
}

// Runs a test body with TZ set, restoring the old zone afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

std::uint64_t FileTimeOfUtc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t t = timegm(&tm);
  return platform::kUnixEpochAsFileTime + static_cast<std::uint64_t>(t) * 10000000u;
}

TEST(DateText, TwelveHourClockWithPadding) {
  ScopedTimeZone utc("UTC");
  EXPECT_EQ(" 3/07/97 12:05:09 AM", DateText(FileTimeOfUtc(1997, 3, 7, 0, 5, 9)));
  EXPECT_EQ(" 3/07/97  1:05:09 PM", DateText(FileTimeOfUtc(1997, 3, 7, 13, 5, 9)));
  EXPECT_EQ(" 3/07/97 12:00:00 PM", DateText(FileTimeOfUtc(1997, 3, 7, 12, 0, 0)));
  EXPECT_EQ(" 3/07/97 11:59:59 AM", DateText(FileTimeOfUtc(1997, 3, 7, 11, 59, 59)));
  EXPECT_EQ("12/31/05 11:59:59 PM", DateText(FileTimeOfUtc(2005, 12, 31, 23, 59, 59)));
  EXPECT_EQ(" 1/01/00  9:00:00 AM", DateText(FileTimeOfUtc(2000, 1, 1, 9, 0, 0)));
  // The fraction of a second is dropped, not rounded.
  EXPECT_EQ(" 3/07/97 12:05:09 AM", DateText(FileTimeOfUtc(1997, 3, 7, 0, 5, 9) + 9999999));
}

TEST(DateText, ConvertsToLocalTime) {
  // POSIX zone names count west as positive: "XYZ-2" is two hours east.
  ScopedTimeZone east("XYZ-2");
  EXPECT_EQ(" 3/07/97  2:05:09 AM", DateText(FileTimeOfUtc(1997, 3, 7, 0, 5, 9)));
  LocalDateTime local;
  ASSERT_TRUE(FileTimeToLocalDateTime(FileTimeOfUtc(1999, 12, 31, 23, 0, 0), &local));
  EXPECT_EQ(2000, local.year);
  EXPECT_EQ(1, local.month);
  EXPECT_EQ(1, local.day);
  EXPECT_EQ(1, local.hour);
}

TEST(DateText, VanishedAndExtremeTimes) {
  ScopedTimeZone utc("UTC");
  // Time 0 is the mark of a file that was not found.
  EXPECT_EQ("", DateText(0));
  // Before 1970 and far ahead still format, without overflow.
  EXPECT_EQ(" 7/20/69  8:17:40 PM", DateText(FileTimeOfUtc(1969, 7, 20, 20, 17, 40)));
  EXPECT_EQ(" 1/01/01 12:00:01 AM", DateText(10000000));
  std::string far = DateText(0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(20u, far.size()) << far;
}

TEST(FormatDateText, FieldsAsGiven) {
  EXPECT_EQ("10/05/23 12:30:00 PM", FormatDateText(LocalDateTime{2023, 10, 5, 12, 30, 0}));
  EXPECT_EQ(" 2/28/10 11:01:02 PM", FormatDateText(LocalDateTime{2110, 2, 28, 23, 1, 2}));
}

TEST(NameText, HidesOnlyTheLastExtension) {
  EXPECT_EQ("report.final", NameText("report.final.doc", false));
  EXPECT_EQ("README", NameText("README", false));
  // A hidden name is not all extension: it would show as an empty cell.
  EXPECT_EQ(".bashrc", NameText(".bashrc", false));
  EXPECT_EQ(".config", NameText(".config.bak", false));
  EXPECT_EQ("report.final.doc", NameText("report.final.doc", true));
}

TEST(SelectionStatusText, EveryCase) {
  EXPECT_EQ("Selected the one and only file.", SelectionStatusText(1, 1));
  EXPECT_EQ("Selected 1 of 5 files.", SelectionStatusText(1, 5));
  EXPECT_EQ("Selected 3 of 5 files.", SelectionStatusText(3, 5));
  EXPECT_EQ("Haven't selected the one and only file.", SelectionStatusText(0, 1));
  EXPECT_EQ("Selected none of the 5 files.", SelectionStatusText(0, 5));
  EXPECT_EQ("Selected none of the 0 files.", SelectionStatusText(0, 0));
}

TEST(CopyCellText, CutsToTheBufferWithANul) {
  char buffer[6];
  EXPECT_EQ(5u, CopyCellText("abcdefgh", buffer, sizeof buffer));
  EXPECT_STREQ("abcde", buffer);
  EXPECT_EQ(2u, CopyCellText("xy", buffer, sizeof buffer));
  EXPECT_STREQ("xy", buffer);
  EXPECT_EQ(0u, CopyCellText("xy", buffer, 1));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(0u, CopyCellText("xy", nullptr, 0));
}

}  // namespace
}  // namespace quindelo
