// SettingsStore: typed access by (section, value name) to the program's
// persistent settings: strings, 32-bit integers, rectangles, fonts and
// numbered string lists. The values live in the settings file of
// platform/settings_file.h, which stands in for the registry's product key
// "Software\Pemblet Software\Quindelo" (one section per subkey).
//
// Every operation returns true on success. A missing value, a value of the
// wrong type, a value too long for the caller's buffer, or text that does not
// parse makes a read return false and leaves the caller's data unchanged
// (ReadList has already emptied the list); callers then use their defaults.
// Nothing is ever shown to the user.
//
// Thread-safety: a store object belongs to the thread that made it; each user
// makes its own (they are cheap). Different stores may be used on different
// threads at once: the settings file has its own lock.
//
// This file also names the sections and values the program uses and gives
// each value's default (the functions at the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/string_list.h"

namespace quindelo {

// The product key the section paths are formed under.
inline constexpr char kProductKey[] = "Software\\Pemblet Software\\Quindelo";
// Full value paths ("%s\%s\%s") are cut to this many bytes.
inline constexpr std::size_t kSettingsPathLimit = 1023;
// Rectangles, fonts, list items and the std::string reads go through a buffer
// of this many bytes (the terminating zero included).
inline constexpr std::size_t kSettingsReadBuffer = 4096;
// Numbered list values are written and deleted below this number.
inline constexpr unsigned kSettingsListLimit = 0x7FFF;

struct SettingsRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool operator==(const SettingsRect&) const = default;
};

// A font as the settings keep it. Text form: "%s,%d,%d,%d,%d" with the face
// name, height, width, weight, and the 32-bit word whose bytes from the low
// end are italic, underline, strike-out and character set.
struct FontSpec {
  static constexpr std::size_t kFaceNameSize = 32;  // NUL included
  char face_name[kFaceNameSize] = {};
  std::int32_t height = 0;
  std::int32_t width = 0;
  std::int32_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t underline = 0;
  std::uint8_t strike_out = 0;
  std::uint8_t charset = 0;
  bool operator==(const FontSpec&) const;
};

class SettingsStore {
 public:
  SettingsStore() = default;
  ~SettingsStore() { Close(); }
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Reads a string into buffer[0..size): true only when the whole string and
  // its terminating zero fit. REQUIRES: buffer holds size bytes.
  bool ReadString(const std::string& section, const std::string& name, char* buffer,
                  std::size_t size);
  // The same with a std::string; `size` plays the buffer's part (a string of
  // size or more bytes does not fit).
  bool ReadString(const std::string& section, const std::string& name, std::string* value,
                  std::size_t size = kSettingsReadBuffer);
  bool WriteString(const std::string& section, const std::string& name, const std::string& text);

  bool ReadInt(const std::string& section, const std::string& name, std::int32_t* value);
  bool WriteInt(const std::string& section, const std::string& name, std::int32_t value);

  // "%d,%d,%d,%d" (left, top, right, bottom); valid when read only with
  // left < right and top < bottom.
  bool ReadRect(const std::string& section, const std::string& name, SettingsRect* rect);
  bool WriteRect(const std::string& section, const std::string& name, const SettingsRect& rect);

  // Valid when read: a non-empty face name before the first comma (cut to 31
  // bytes), then exactly four integers separated by commas, height != 0,
  // width >= 0, weight >= 0. WriteFont refuses a face name that is empty or
  // holds a comma, since it could not be read back.
  bool ReadFont(const std::string& section, const std::string& name, FontSpec* font);
  bool WriteFont(const std::string& section, const std::string& name, const FontSpec& font);

  // Empties *list, then appends prefix1, prefix2, ... up to the first number
  // that is missing or unreadable. True when at least one item was read.
  bool ReadList(const std::string& section, const std::string& prefix,
                std::vector<std::string>* list);
  // Writes item i as prefix<i> for i = 1..n, stopping with false at the
  // first failure; then deletes prefix<n+1>, prefix<n+2>, ... while they
  // exist, below kSettingsListLimit.
  bool WriteList(const std::string& section, const std::string& prefix,
                 const std::vector<std::string>& list);
  // The same for the string lists of the find form.
  bool ReadList(const std::string& section, const std::string& prefix, StringList* list);
  bool WriteList(const std::string& section, const std::string& prefix, const StringList& list);

  // False when the value did not exist or could not be removed.
  bool DeleteValue(const std::string& section, const std::string& name);

  // Ends a run of operations. The settings file is opened afresh by each
  // operation, so there is no key to keep open; kept for callers that close
  // a store before its end.
  void Close() {}
};

// Sections and values used by the program.
namespace settings {
inline constexpr char kSettings[] = "Settings";
inline constexpr char kStartupDir[] = "StartupDir";
inline constexpr char kKeyboardIdleMSecs[] = "KeyboardIdleMSecs";
inline constexpr char kLicense[] = "License";
inline constexpr char kSplashDay[] = "SplashDay";
inline constexpr char kQuickStart[] = "QuickStart";
inline constexpr char kFrameWindow[] = "FrameWindow";
inline constexpr char kShow[] = "Show";
inline constexpr char kPosition[] = "Position";
inline constexpr char kControls[] = "Controls";
inline constexpr char kLookIn[] = "LookIn";
inline constexpr char kLookInHistory[] = "LookIn_";
inline constexpr char kNamedHistory[] = "Named_";
inline constexpr char kContainingHistory[] = "Containing_";
inline constexpr char kFont[] = "Font";
inline constexpr char kView[] = "View";
inline constexpr char kFileIcon[] = "FileIcon";
inline constexpr char kFileExtension[] = "FileExtension";
inline constexpr char kFileType[] = "FileType";
inline constexpr char kFileSize[] = "FileSize";
inline constexpr char kFileDate[] = "FileDate";
inline constexpr char kSortColumn[] = "SortColumn";
inline constexpr char kSortDescend[] = "SortDescend";
inline constexpr char kOptions[] = "Options";
inline constexpr char kIncludeSubfolders[] = "IncludeSubfolders";
inline constexpr char kColumnWidths[] = "ColumnWidths";
// Value names of the five column widths, in column order.
inline constexpr const char* kColumnWidthNames[5] = {"Name", "Folder", "Type", "Size", "Date"};
// The framework's recent-file list (kept per user).
inline constexpr char kRecentFileList[] = "Recent File List";

inline constexpr std::int32_t kDefaultKeyboardIdleMSecs = 500;
inline constexpr char kDefaultLookIn[] = "C:";
inline constexpr std::size_t kStartupDirMaxLength = 259;
inline constexpr std::size_t kLookInMaxLength = 4096;  // as read for an untitled find
}  // namespace settings

// Each value with its default. Each makes its own store and reads the file
// as it is now.

// The find delay: "Settings"/"KeyboardIdleMSecs"; 500 when missing or negative.
std::int32_t KeyboardIdleMSecs();
// The start-up folder: "Settings"/"StartupDir" when set, else the program's
// data folder (platform/paths.h StartupFolder()). Native path.
std::string StartupDir();
// "License"/"SplashDay" and "License"/"QuickStart": day numbers, none when
// missing (the splash is shown, the question is asked).
std::optional<std::int32_t> SplashDay();
std::optional<std::int32_t> QuickStartDay();
// "FrameWindow"/"Show" when it holds 1 to 9; none otherwise (the start-up
// show state applies).
std::optional<std::int32_t> FrameShowState();
// "FrameWindow"/"Position" when it is a valid rectangle; none otherwise
// (default placement).
std::optional<SettingsRect> FramePosition();
// "Controls"/"LookIn" (up to 4096 characters); "C:" when missing or empty.
std::string LookInSetting();
// "Controls"/"Font" when valid; none means the list's standard font.
std::optional<FontSpec> ListFont();

}  // namespace quindelo
