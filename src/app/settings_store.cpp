// SettingsStore on top of the platform's settings file: value paths, text
// forms of rectangles and fonts, numbered lists and the program's defaults.
#include "app/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/paths.h"
#include "platform/settings_file.h"

namespace quindelo {
namespace {

// Forms the full value path "%s\%s\%s" under the product key, cuts it to
// kSettingsPathLimit bytes and splits it at its last backslash, as a registry
// path is split into key and value name. A backslash in a name therefore
// moves its front part into the section, as it would move into the key path.
void SplitValuePath(const std::string& section, const std::string& name, std::string* key_section,
                    std::string* value_name) {
  std::string full = kProductKey;
  full += '\\';
  if (!section.empty()) {
    full += section;
    full += '\\';
  }
  full += name;
  if (full.size() > kSettingsPathLimit) full.resize(kSettingsPathLimit);
  std::size_t cut = full.rfind('\\');
  constexpr std::size_t kPrefix = sizeof(kProductKey) - 1;
  *value_name = full.substr(cut + 1);
  *key_section = cut > kPrefix ? full.substr(kPrefix + 1, cut - kPrefix - 1) : std::string();
}

// Reads a decimal integer as "%d" does (leading blanks, optional sign, at
// least one digit) at s[*pos], within [min, max].
bool ParseDecimal(std::string_view s, std::size_t* pos, long long min, long long max,
                  long long* out) {
  std::size_t i = *pos;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::size_t digits = 0;
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (++digits > 12) return false;  // far beyond 32 bits; also keeps v small
    v = v * 10 + (s[i++] - '0');
  }
  if (digits == 0) return false;
  if (negative) v = -v;
  if (v < min || v > max) return false;
  *out = v;
  *pos = i;
  return true;
}

// Parses s as exactly `count` comma-separated 32-bit integers into out; only
// blanks may follow the last. The last may also be an unsigned 32-bit value
// when last_unsigned is set (a packed word written as %d or %u).
bool ParseIntList(std::string_view s, long long* out, int count, bool last_unsigned) {
  std::size_t pos = 0;
  for (int k = 0; k < count; ++k) {
    if (k > 0) {
      if (pos >= s.size() || s[pos] != ',') return false;
      ++pos;
    }
    long long max = (last_unsigned && k == count - 1) ? 0xFFFFFFFFLL : INT32_MAX;
    if (!ParseDecimal(s, &pos, INT32_MIN, max, &out[k])) return false;
  }
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  return pos == s.size();
}

std::size_t FaceNameLength(const FontSpec& font) {
  return strnlen(font.face_name, FontSpec::kFaceNameSize);
}

}  // namespace

bool FontSpec::operator==(const FontSpec& o) const {
  std::size_t n = FaceNameLength(*this);
  return n == FaceNameLength(o) && std::memcmp(face_name, o.face_name, n) == 0 &&
         height == o.height && width == o.width && weight == o.weight && italic == o.italic &&
         underline == o.underline && strike_out == o.strike_out && charset == o.charset;
}

bool SettingsStore::ReadString(const std::string& section, const std::string& name, char* buffer,
                               std::size_t size) {
  std::string value;
  if (buffer == nullptr || !ReadString(section, name, &value, size)) return false;
  std::memcpy(buffer, value.data(), value.size());
  buffer[value.size()] = '\0';
  return true;
}

bool SettingsStore::ReadString(const std::string& section, const std::string& name,
                               std::string* value, std::size_t size) {
  std::string key, value_name, text;
  SplitValuePath(section, name, &key, &value_name);
  if (!platform::SettingsReadString(key, value_name, &text)) return false;
  if (text.size() >= size) return false;  // the terminating zero must fit too
  *value = std::move(text);
  return true;
}

bool SettingsStore::WriteString(const std::string& section, const std::string& name,
                                const std::string& text) {
  std::string key, value_name;
  SplitValuePath(section, name, &key, &value_name);
  return platform::SettingsWriteString(key, value_name, text);
}

bool SettingsStore::ReadInt(const std::string& section, const std::string& name,
                            std::int32_t* value) {
  std::string key, value_name;
  SplitValuePath(section, name, &key, &value_name);
  return platform::SettingsReadInt(key, value_name, value);
}

bool SettingsStore::WriteInt(const std::string& section, const std::string& name,
                             std::int32_t value) {
  std::string key, value_name;
  SplitValuePath(section, name, &key, &value_name);
  return platform::SettingsWriteInt(key, value_name, value);
}

bool SettingsStore::ReadRect(const std::string& section, const std::string& name,
                             SettingsRect* rect) {
  std::string text;
  long long v[4];
  if (!ReadString(section, name, &text) || !ParseIntList(text, v, 4, false)) return false;
  if (!(v[0] < v[2]) || !(v[1] < v[3])) return false;
  rect->left = static_cast<std::int32_t>(v[0]);
  rect->top = static_cast<std::int32_t>(v[1]);
  rect->right = static_cast<std::int32_t>(v[2]);
  rect->bottom = static_cast<std::int32_t>(v[3]);
  return true;
}

bool SettingsStore::WriteRect(const std::string& section, const std::string& name,
                              const SettingsRect& rect) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d", static_cast<int>(rect.left),
                static_cast<int>(rect.top), static_cast<int>(rect.right),
                static_cast<int>(rect.bottom));
  return WriteString(section, name, buf);
}

bool SettingsStore::ReadFont(const std::string& section, const std::string& name,
                             FontSpec* font) {
  std::string text;
  if (!ReadString(section, name, &text)) return false;
  std::size_t comma = text.find(',');
  if (comma == std::string::npos || comma == 0) return false;
  long long v[4];
  if (!ParseIntList(std::string_view(text).substr(comma + 1), v, 4, true)) return false;
  if (v[0] == 0 || v[1] < 0 || v[2] < 0) return false;
  FontSpec result;
  std::size_t face = std::min(comma, FontSpec::kFaceNameSize - 1);
  std::memcpy(result.face_name, text.data(), face);
  result.height = static_cast<std::int32_t>(v[0]);
  result.width = static_cast<std::int32_t>(v[1]);
  result.weight = static_cast<std::int32_t>(v[2]);
  auto packed = static_cast<std::uint32_t>(v[3] & 0xFFFFFFFFLL);
  result.italic = static_cast<std::uint8_t>(packed);
  result.underline = static_cast<std::uint8_t>(packed >> 8);
  result.strike_out = static_cast<std::uint8_t>(packed >> 16);
  result.charset = static_cast<std::uint8_t>(packed >> 24);
  *font = result;
  return true;
}

bool SettingsStore::WriteFont(const std::string& section, const std::string& name,
                              const FontSpec& font) {
  std::string face(font.face_name, FaceNameLength(font));
  if (face.empty() || face.find(',') != std::string::npos) return false;
  std::uint32_t packed = static_cast<std::uint32_t>(font.italic) |
                         static_cast<std::uint32_t>(font.underline) << 8 |
                         static_cast<std::uint32_t>(font.strike_out) << 16 |
                         static_cast<std::uint32_t>(font.charset) << 24;
  char buf[96];
  std::snprintf(buf, sizeof buf, ",%d,%d,%d,%d", static_cast<int>(font.height),
                static_cast<int>(font.width), static_cast<int>(font.weight),
                static_cast<int>(static_cast<std::int32_t>(packed)));
  return WriteString(section, name, face + buf);
}

bool SettingsStore::ReadList(const std::string& section, const std::string& prefix,
                             std::vector<std::string>* list) {
  list->clear();
  // One read of the file for the whole list.
  platform::SettingsSnapshot snapshot;
  for (unsigned i = 1; i < kSettingsListLimit; ++i) {
    std::string key, value_name, item;
    SplitValuePath(section, prefix + std::to_string(i), &key, &value_name);
    if (!snapshot.ReadString(key, value_name, &item) || item.size() >= kSettingsReadBuffer) break;
    list->push_back(std::move(item));
  }
  return !list->empty();
}

bool SettingsStore::WriteList(const std::string& section, const std::string& prefix,
                              const std::vector<std::string>& list) {
  std::size_t n = list.size();
  if (n >= kSettingsListLimit) return false;
  // The items and the deletion of stale higher numbers go into one rewrite
  // of the file, so a failure leaves the old list whole.
  std::vector<platform::SettingsChange> changes;
  for (std::size_t i = 0; i < n; ++i) {
    platform::SettingsChange c;
    c.kind = platform::SettingsChange::kString;
    SplitValuePath(section, prefix + std::to_string(i + 1), &c.section, &c.name);
    c.text = list[i];
    changes.push_back(std::move(c));
  }
  platform::SettingsSnapshot snapshot;
  for (std::size_t i = n + 1; i < kSettingsListLimit; ++i) {
    platform::SettingsChange c;
    c.kind = platform::SettingsChange::kDelete;
    SplitValuePath(section, prefix + std::to_string(i), &c.section, &c.name);
    if (!snapshot.Contains(c.section, c.name)) break;
    changes.push_back(std::move(c));
  }
  return platform::SettingsApply(changes);
}

bool SettingsStore::ReadList(const std::string& section, const std::string& prefix,
                             StringList* list) {
  std::vector<std::string> items;
  bool ok = ReadList(section, prefix, &items);
  list->Clear();
  for (const std::string& item : items) list->Append(item);
  return ok;
}

bool SettingsStore::WriteList(const std::string& section, const std::string& prefix,
                              const StringList& list) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < list.Count(); ++i) items.emplace_back(list.Item(i));
  return WriteList(section, prefix, items);
}

bool SettingsStore::DeleteValue(const std::string& section, const std::string& name) {
  std::string key, value_name;
  SplitValuePath(section, name, &key, &value_name);
  return platform::SettingsDeleteValue(key, value_name);
}

// ---- defaults ----

std::int32_t KeyboardIdleMSecs() {
  SettingsStore store;
  std::int32_t v;
  if (!store.ReadInt(settings::kSettings, settings::kKeyboardIdleMSecs, &v) || v < 0)
    return settings::kDefaultKeyboardIdleMSecs;
  return v;
}

std::string StartupDir() { return platform::StartupFolder(); }

namespace {
std::optional<std::int32_t> ReadOptionalInt(const char* section, const char* name) {
  SettingsStore store;
  std::int32_t v;
  if (!store.ReadInt(section, name, &v)) return std::nullopt;
  return v;
}
}  // namespace

std::optional<std::int32_t> SplashDay() {
  return ReadOptionalInt(settings::kLicense, settings::kSplashDay);
}

std::optional<std::int32_t> QuickStartDay() {
  return ReadOptionalInt(settings::kLicense, settings::kQuickStart);
}

std::optional<std::int32_t> FrameShowState() {
  auto v = ReadOptionalInt(settings::kFrameWindow, settings::kShow);
  if (v && (*v < 1 || *v > 9)) return std::nullopt;
  return v;
}

std::optional<SettingsRect> FramePosition() {
  SettingsStore store;
  SettingsRect rect;
  if (!store.ReadRect(settings::kFrameWindow, settings::kPosition, &rect)) return std::nullopt;
  return rect;
}

std::string LookInSetting() {
  SettingsStore store;
  std::string text;
  if (!store.ReadString(settings::kControls, settings::kLookIn, &text,
                        settings::kLookInMaxLength + 1) ||
      text.empty())
    return settings::kDefaultLookIn;
  return text;
}

std::optional<FontSpec> ListFont() {
  SettingsStore store;
  FontSpec font;
  if (!store.ReadFont(settings::kControls, settings::kFont, &font)) return std::nullopt;
  return font;
}

}  // namespace quindelo
