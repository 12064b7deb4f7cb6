#include "search/cell_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/folder.h"

namespace quindelo {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[128];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return std::string();
  return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

}  // namespace

std::string SizeText(std::uint32_t size) {
  // 64-bit arithmetic: the rounding must not wrap for sizes near 4 GB.
  std::uint64_t s = size;
  if (s < 1000) return Format("%u", static_cast<unsigned>(s));
  if (s < 10000) return Format("%u,%03u", static_cast<unsigned>(s / 1000), static_cast<unsigned>(s % 1000));
  std::uint64_t k = (s + 511) / 1024;
  if (k < 1000) return Format("%u K", static_cast<unsigned>(k));
  if (k < 1000000)
    return Format("%u,%03u K", static_cast<unsigned>(k / 1000), static_cast<unsigned>(k % 1000));
  return Format("%u M", static_cast<unsigned>((k + 511) / 1024));
}

bool FileTimeToLocalDateTime(std::uint64_t file_time, LocalDateTime* local) {
  // Whole seconds since 1601, then since 1970; both fit easily in 64 bits.
  constexpr std::int64_t kEpochSeconds =
      static_cast<std::int64_t>(platform::kUnixEpochAsFileTime / 10000000u);
  std::int64_t seconds = static_cast<std::int64_t>(file_time / 10000000u) - kEpochSeconds;
  std::time_t t = static_cast<std::time_t>(seconds);
  if (static_cast<std::int64_t>(t) != seconds) return false;
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return false;
  local->year = tm.tm_year + 1900;
  local->month = tm.tm_mon + 1;
  local->day = tm.tm_mday;
  local->hour = tm.tm_hour;
  local->minute = tm.tm_min;
  local->second = tm.tm_sec;
  return true;
}

std::string FormatDateText(const LocalDateTime& local) {
  int hour12 = local.hour % 12 == 0 ? 12 : local.hour % 12;
  int year = local.year % 100;
  if (year < 0) year += 100;
  return Format("%2d/%02d/%02d %2d:%02d:%02d %s", local.month, local.day, year, hour12,
                local.minute, local.second, local.hour >= 12 ? "PM" : "AM");
}

std::string DateText(std::uint64_t last_write) {
  LocalDateTime local;
  if (last_write == 0 || !FileTimeToLocalDateTime(last_write, &local)) return std::string();
  return FormatDateText(local);
}

std::string_view NameText(std::string_view name, bool show_extensions) {
  if (show_extensions) return name;
  // A leading dot starts a hidden name, not an extension: ".profile" stays.
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string SelectionStatusText(int selected, int rows) {
  if (selected == 1 && rows == 1) return "Selected the one and only file.";
  if (selected == 1) return Format("Selected 1 of %d files.", rows);
  if (selected >= 2) return Format("Selected %d of %d files.", selected, rows);
  if (rows == 1) return "Haven't selected the one and only file.";
  return Format("Selected none of the %d files.", rows);
}

std::size_t CopyCellText(std::string_view text, char* buffer, std::size_t buffer_size) {
  if (buffer_size == 0) return 0;
  std::size_t n = std::min(text.size(), buffer_size - 1);
  if (n) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

}  // namespace quindelo
