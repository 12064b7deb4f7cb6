#include "app/startup.h"

#include "app/settings_store.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace quindelo {

std::uint16_t DayNumber(std::time_t now, long utc_offset_seconds) {
  const long long local = static_cast<long long>(now) + utc_offset_seconds;
  if (local < 0) return 0;
  return static_cast<std::uint16_t>(local / 86400);
}

std::uint16_t TodayDayNumber() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return DayNumber(now, 0);
  return DayNumber(now, local.tm_gmtoff);
}

bool SplashDue(std::optional<std::int32_t> stored_day, std::uint16_t today) {
  return !stored_day || *stored_day == 0 || *stored_day != static_cast<std::int32_t>(today);
}

bool ClaimSplashDay() {
  const std::uint16_t today = TodayDayNumber();
  if (!SplashDue(SplashDay(), today)) return false;
  SettingsStore store;
  store.WriteInt(settings::kLicense, settings::kSplashDay, today);
  return true;
}

bool ClaimQuickStartQuestion() {
  if (QuickStartDay()) return false;
  SettingsStore store;
  store.WriteInt(settings::kLicense, settings::kQuickStart, TodayDayNumber());
  return true;
}

bool SettleStartupFolder(StartupFolders* folders) {
  folders->startup = platform::StartupFolder();
  folders->data = platform::DataFolder();
  return platform::CreateFolders(folders->data).ok();
}

std::string CommandLineSavedFind(const std::vector<std::string>& arguments,
                                 const std::string& working_folder) {
  std::string name;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (!name.empty()) name += ' ';
    name += argument;
  }
  if (name.empty() || name[0] == '/' || working_folder.empty()) return name;
  std::string absolute = working_folder;
  if (absolute.back() != '/') absolute += '/';
  return absolute + name;
}

std::int32_t ChooseShowState(std::int32_t started_state, std::optional<std::int32_t> stored) {
  if (started_state == kShowMinimized || started_state == kShowMaximized) return started_state;
  if (stored && *stored >= 1 && *stored <= 9) return *stored;
  return started_state;
}

}  // namespace quindelo
