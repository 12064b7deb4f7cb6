// Saved-find files and the default find's settings.
#include "app/saved_find.h"

#include <climits>
#include <cstdio>

#include <array>
#include <string_view>
#include <vector>

#include "app/settings_store.h"
#include "platform/file.h"

namespace quindelo {
namespace {

constexpr int kLineCount = 17;

// Decimal conversion as atoi does it (leading white space, optional sign,
// leading digits), saturating at the 32-bit limits instead of overflowing.
std::int32_t ToInt32(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > static_cast<long long>(INT32_MAX) + 1) v = static_cast<long long>(INT32_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<std::int32_t>(v);
}

// A text as it is held downstream: up to its first NUL, at most 259 bytes,
// and a CR inside the line read as a space, as it would be written (a text
// never holds a line break), so that a find read and saved again reads back
// the same.
std::string CutText(std::string_view line) {
  std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  if (line.size() > kSavedFindTextMax) line = line.substr(0, kSavedFindTextMax);
  std::string text(line);
  for (char& c : text)
    if (c == '\r') c = ' ';
  return text;
}

// A text as it is written: one line, no NUL.
std::string LineText(const std::string& text) {
  std::string out = text.substr(0, text.find('\0'));
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

// Splits contents into at most kLineCount lines, removing each LF and the CR
// before it.
std::vector<std::string_view> SplitLines(std::string_view contents) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < contents.size() && lines.size() < kLineCount) {
    std::size_t end = contents.find('\n', start);
    std::size_t next = end == std::string_view::npos ? contents.size() : end + 1;
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = next;
  }
  return lines;
}

}  // namespace

std::string FormatSavedFind(const SavedFind& find) {
  std::string out = kSavedFindSignature;
  out += "\r\n";
  for (const std::string* text : {&find.look_in, &find.named, &find.containing}) {
    out += LineText(*text);
    out += "\r\n";
  }
  for (std::int32_t v : find.options.ToArray()) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d\r\n", static_cast<int>(v));
    out += buf;
  }
  return out;
}

SavedFindLoad ParseSavedFind(const std::string& contents, SavedFind* find) {
  std::vector<std::string_view> lines = SplitLines(contents);
  if (lines.empty() || lines[0] != kSavedFindSignature) return SavedFindLoad::kNotQuindeloFile;
  auto line = [&lines](int index) {
    return index < static_cast<int>(lines.size()) ? lines[index] : std::string_view();
  };
  SavedFind result;
  result.look_in = CutText(line(1));
  result.named = CutText(line(2));
  result.containing = CutText(line(3));
  std::array<std::int32_t, ViewOptions::kCount> numbers{};
  for (int i = 0; i < ViewOptions::kCount; ++i) numbers[i] = ToInt32(line(4 + i));
  result.options = ViewOptions::FromArray(numbers);
  *find = std::move(result);
  return SavedFindLoad::kOk;
}

SavedFindLoad LoadSavedFind(const std::string& native_path, SavedFind* find,
                            std::string* warning) {
  std::string contents;
  if (!platform::ReadFilePrefix(native_path, kSavedFindMaxRead, &contents)) return SavedFindLoad::kReadFailed;
  SavedFindLoad result = ParseSavedFind(contents, find);
  if (result == SavedFindLoad::kNotQuindeloFile && warning) {
    std::string_view message = kNotQuindeloFileMessage;
    std::size_t at = message.find("%s");
    *warning = std::string(message.substr(0, at)) + native_path +
               std::string(message.substr(at + 2));
  }
  return result;
}

bool SaveSavedFind(const std::string& native_path, const SavedFind& find) {
  return platform::ReplaceFileContents(native_path, FormatSavedFind(find), 0600).ok();
}

SavedFind LoadDefaultFind() {
  SettingsStore store;
  SavedFind find;
  find.options = LoadViewOptions(&store);
  find.look_in = LookInSetting();
  return find;
}

bool SaveDefaultFind(const SavedFind& find) {
  SettingsStore store;
  bool ok = SaveViewOptions(&store, find.options);
  std::string look_in = find.look_in.substr(0, kSavedFindTextMax);
  return store.WriteString(settings::kControls, settings::kLookIn, look_in) && ok;
}

SavedFind FindDocument::NewFind() {
  default_find_ = true;
  load_failed_ = false;
  return LoadDefaultFind();
}

FindDocument::OpenResult FindDocument::Open(const std::string& native_path,
                                            const SavedFind& form_data, SavedFind* data,
                                            std::string* warning) {
  SavedFind loaded;
  SavedFindLoad result = LoadSavedFind(native_path, &loaded, warning);
  if (result == SavedFindLoad::kReadFailed) return OpenResult::kReadFailed;
  load_failed_ = false;
  // The default find's options would be lost once a file replaces them.
  if (default_find_) SaveDefaultFind(form_data);
  default_find_ = false;
  if (result == SavedFindLoad::kNotQuindeloFile) {
    load_failed_ = true;
    return OpenResult::kNotQuindeloFile;
  }
  *data = std::move(loaded);
  return OpenResult::kOk;
}

bool FindDocument::Save(const std::string& native_path, const SavedFind& form_data) {
  if (default_find_) SaveDefaultFind(form_data);
  return SaveSavedFind(native_path, form_data);
}

void FindDocument::FormClosing(const SavedFind& form_data) {
  if (default_find_) SaveDefaultFind(form_data);
}

}  // namespace quindelo
