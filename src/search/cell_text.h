// The texts of the results list's cells and of its selection status line,
// computed from a found file's fields. Pure formatting: nothing here touches
// the file system, and every function is thread-safe (the local time
// conversion reads the process's time zone, set by TZ).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindelo {

// The size column's text for a size in bytes: exact bytes up to 9,999
// ("999", "9,999"), then kilobytes of 1024 bytes rounded to nearest
// ("10 K", "999,999 K"), then megabytes from 1,000,000 K ("977 M"). The
// thousands separator is always a comma.
std::string SizeText(std::uint32_t size);

// A point in local time, as the date column shows it.
struct LocalDateTime {
  int year = 0;    // e.g. 1997
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 59 (60 for a leap second)
};

// Converts a time in 100 ns units since 1601 UTC to local time, to the
// second (the fraction is dropped). False when the time zone conversion
// cannot represent the time.
bool FileTimeToLocalDateTime(std::uint64_t file_time, LocalDateTime* local);

// "%2d/%02d/%02d %2d:%02d:%02d %s": month, day, year modulo 100, hour on the
// 12-hour clock (12 for hours 0 and 12), minute, second, "AM" for hours 0 to
// 11 and "PM" for 12 to 23. E.g. " 3/07/97 12:05:09 AM".
std::string FormatDateText(const LocalDateTime& local);

// The date column's text for a last-write time. Time 0 marks a file that was
// not found when its details were fetched: its date text is empty, as is the
// text of a time that cannot be converted.
std::string DateText(std::uint64_t last_write);

// The name column's text: the name itself, or, with extensions hidden, the
// name before its last dot (a name without a dot, or whose only dot is its
// first character, such as ".profile", is unchanged).
std::string_view NameText(std::string_view name, bool show_extensions);

// The selection status line for selected rows out of rows, e.g.
// "Selected 1 of 5 files." or "Selected none of the 0 files.".
std::string SelectionStatusText(int selected, int rows);

// Copies text into a cell buffer of buffer_size bytes, cut to fit, with a
// NUL at its end. Returns the characters copied (without the NUL). Copies
// nothing when buffer_size is 0.
std::size_t CopyCellText(std::string_view text, char* buffer, std::size_t buffer_size);

}  // namespace quindelo
