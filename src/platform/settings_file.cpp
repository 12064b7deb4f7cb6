// The settings file's portable part: the INI text is parsed into lines,
// edited and written back here; the platform's settings_file_*.cpp finds,
// reads, replaces and locks the file (settings_file_io.h). The whole file is
// read at every call (it is small), so that a change made by another process
// or a moved XDG_CONFIG_HOME is seen at once.
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "base/mutex.h"
#include "platform/settings_file.h"
#include "platform/settings_file_io.h"

namespace quindelo::platform {
namespace {

constexpr char kDwordPrefix[] = "dword:";
// Section of the lines below a broken header; no valid name equals it.
constexpr char kNoSection[] = "\n";

// Serialises this process's reads and rewrites of the settings file (other
// processes are kept out by the lock file).
platform::Mutex g_settings_lock;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasControlByte(std::string_view s) {
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

// Names that can be written so that they read back unchanged.
bool ValidSectionName(std::string_view s) {
  return !HasControlByte(s) && s.find(']') == std::string_view::npos && Trim(s) == s;
}

bool ValidValueName(std::string_view s) {
  return !s.empty() && !HasControlByte(s) && s.find('=') == std::string_view::npos &&
         Trim(s) == s && s[0] != '[' && s[0] != ';' && s[0] != '#';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string EscapeString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\x";
          out += kHex[u >> 4];
          out += kHex[u & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

// Parses a quoted, escaped string; nothing but blanks may follow it.
bool UnescapeString(std::string_view text, std::string* out) {
  if (text.size() < 2 || text.front() != '"') return false;
  std::string value;
  std::size_t i = 1;
  for (;;) {
    if (i >= text.size()) return false;  // no closing quote
    char c = text[i++];
    if (c == '"') break;
    if (c != '\\') {
      value += c;
      continue;
    }
    if (i >= text.size()) return false;
    char e = text[i++];
    switch (e) {
      case '"': value += '"'; break;
      case '\\': value += '\\'; break;
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      case 't': value += '\t'; break;
      case 'x': {
        if (i + 2 > text.size()) return false;
        int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        value += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  if (!Trim(text.substr(i)).empty()) return false;
  *out = std::move(value);
  return true;
}

std::string FormatDword(std::int32_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%08x", kDwordPrefix, static_cast<std::uint32_t>(value));
  return buf;
}

bool ParseDword(std::string_view text, std::int32_t* out) {
  constexpr std::size_t prefix = sizeof(kDwordPrefix) - 1;
  if (text.size() <= prefix || !ascii::EqualNoCase(text.substr(0, prefix), kDwordPrefix))
    return false;
  std::string_view digits = text.substr(prefix);
  if (digits.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  *out = static_cast<std::int32_t>(v);
  return true;
}

enum class LineKind { kKeep, kSection, kValue, kBad };

struct Line {
  LineKind kind = LineKind::kKeep;
  std::string raw;      // the line as it will be written back (no line end)
  std::string name;     // section name (kSection) or value name (kValue)
  std::string section;  // for kValue: the section the value belongs to
  std::string_view text() const {  // kValue: the text after '='
    return Trim(std::string_view(raw).substr(raw.find('=') + 1));
  }
};

struct Document {
  std::vector<Line> lines;
};

// Classifies one line. current_section is updated by section headers.
Line ParseLine(std::string_view raw, std::string* current_section) {
  Line line;
  line.raw = std::string(raw);
  if (raw.size() > kSettingsMaxLineLength || raw.find('\0') != std::string_view::npos) {
    line.kind = LineKind::kBad;
    return line;
  }
  std::string_view t = Trim(raw);
  if (t.empty() || t[0] == ';' || t[0] == '#') return line;  // kept as it is
  if (t[0] == '[') {
    std::size_t close = t.find(']');
    if (close == std::string_view::npos || !Trim(t.substr(close + 1)).empty()) {
      // The values below a broken header belong to no section that can be
      // named; they are unreadable and dropped at the next write.
      line.kind = LineKind::kBad;
      current_section->assign(1, kNoSection[0]);
      return line;
    }
    std::string_view name = Trim(t.substr(1, close - 1));
    line.kind = LineKind::kSection;
    line.name = std::string(name);
    *current_section = line.name;
    return line;
  }
  std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) {
    line.kind = LineKind::kBad;
    return line;
  }
  std::string_view name = Trim(t.substr(0, eq));
  std::string_view value = Trim(t.substr(eq + 1));
  std::string s;
  std::int32_t i;
  if (name.empty() || *current_section == kNoSection || (!UnescapeString(value, &s) && !ParseDword(value, &i))) {
    line.kind = LineKind::kBad;
    return line;
  }
  line.kind = LineKind::kValue;
  line.name = std::string(name);
  line.section = *current_section;
  return line;
}

// Splits text into lines (LF, with an optional CR before it) and classifies
// them.
Document ParseDocument(const std::string& data) {
  Document doc;
  std::string section;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string_view raw(data.data() + start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    doc.lines.push_back(ParseLine(raw, &section));
    start = end + 1;
  }
  return doc;
}

// Reads the file into *doc. False when the file exists but cannot be read or
// is too large: writes must then leave it alone.
bool LoadDocument(Document* doc) REQUIRES(g_settings_lock) {
  std::string data;
  if (!ReadSettingsText(&data)) {
    doc->lines.clear();
    return false;
  }
  *doc = ParseDocument(data);
  return true;
}

// The text of doc as written: LF line ends, bad lines dropped.
std::string SerializeDocument(const Document& doc) {
  std::string data;
  for (const Line& l : doc.lines) {
    if (l.kind == LineKind::kBad) continue;
    data += l.raw;
    data += '\n';
  }
  return data;
}

// The first value line of (section, name), or -1.
long FindValue(const Document& doc, std::string_view section, std::string_view name) {
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const Line& l = doc.lines[i];
    if (l.kind == LineKind::kValue && ascii::EqualNoCase(l.section, section) &&
        ascii::EqualNoCase(l.name, name))
      return static_cast<long>(i);
  }
  return -1;
}

// Marks every value line of (section, name) for dropping; true when any.
bool DropValue(Document* doc, const std::string& section, const std::string& name) {
  bool found = false;
  for (Line& l : doc->lines) {
    if (l.kind == LineKind::kValue && ascii::EqualNoCase(l.section, section) &&
        ascii::EqualNoCase(l.name, name)) {
      l.kind = LineKind::kBad;  // dropped when the file is written
      found = true;
    }
  }
  return found;
}

// Sets (section, name) to the already formatted value text in doc.
bool SetValue(Document* doc, const std::string& section, const std::string& name,
              const std::string& text) {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  if (name.size() + 1 + text.size() > kSettingsMaxLineLength) return false;
  long at = FindValue(*doc, section, name);
  if (at >= 0) {
    // The stored spelling of the name stays, as the registry keeps it.
    Line& line = doc->lines[at];
    line.raw = line.name + "=" + text;
    // Later duplicates would never be read; drop them so the file says one thing.
    for (std::size_t i = static_cast<std::size_t>(at) + 1; i < doc->lines.size(); ++i) {
      Line& l = doc->lines[i];
      if (l.kind == LineKind::kValue && ascii::EqualNoCase(l.section, section) &&
          ascii::EqualNoCase(l.name, name))
        l.kind = LineKind::kBad;
    }
    return true;
  }
  Line line;
  line.kind = LineKind::kValue;
  line.raw = name + "=" + text;
  line.name = name;
  line.section = section;
  std::vector<Line>& lines = doc->lines;
  // Insert after the last value of the section's first block; values of the
  // unnamed section go before the first header.
  std::size_t insert_at = lines.size();
  bool found_section = section.empty();
  if (section.empty()) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].kind == LineKind::kSection) {
        insert_at = i;
        break;
      }
  } else {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind != LineKind::kSection || !ascii::EqualNoCase(lines[i].name, section))
        continue;
      found_section = true;
      insert_at = i + 1;
      for (std::size_t j = i + 1; j < lines.size() && lines[j].kind != LineKind::kSection; ++j)
        if (lines[j].kind == LineKind::kValue) insert_at = j + 1;
      break;
    }
  }
  if (found_section) {
    lines.insert(lines.begin() + static_cast<long>(insert_at), line);
    return true;
  }
  bool has_content = false;
  for (const Line& l : lines) has_content = has_content || l.kind != LineKind::kBad;
  if (has_content && !lines.back().raw.empty()) lines.push_back(Line());
  Line header;
  header.kind = LineKind::kSection;
  header.raw = "[" + section + "]";
  header.name = section;
  lines.push_back(header);
  lines.push_back(line);
  return true;
}

// One read, change and rewrite of the file, as one writer among all
// processes: edit changes the document and says whether to write it.
// An edit that leaves the text as it was writes nothing: the file keeps its
// inode and times, and with them whatever is cached on them (the drive
// table is). That is checked first without the lock file, since most writes
// of a session store what is already there; the lock file comes before the
// process's lock, so that threads of this process that only read do not
// wait while a writer waits for another process.
template <typename Edit>
bool RewriteDocument(Edit edit) {
  {
    platform::MutexLock lock(&g_settings_lock);
    std::string before;
    if (!ReadSettingsText(&before)) return false;
    Document doc = ParseDocument(before);
    if (!edit(&doc)) return false;
    if (SerializeDocument(doc) == before) return true;
  }
  SettingsWriteLock file_lock;
  if (!file_lock.held()) return false;
  platform::MutexLock lock(&g_settings_lock);
  std::string before;
  if (!ReadSettingsText(&before)) return false;
  Document doc = ParseDocument(before);
  if (!edit(&doc)) return false;
  const std::string after = SerializeDocument(doc);
  return after == before || WriteSettingsText(after);
}

bool WriteValue(const std::string& section, const std::string& name, const std::string& text) {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  if (name.size() + 1 + text.size() > kSettingsMaxLineLength) return false;
  return RewriteDocument([&](Document* doc) { return SetValue(doc, section, name, text); });
}

std::string FoldedKey(std::string_view section, std::string_view name) {
  std::string key;
  key.reserve(section.size() + name.size() + 1);
  for (char c : section) key += ascii::ToLower(c);
  key += '\n';  // never part of a valid name
  for (char c : name) key += ascii::ToLower(c);
  return key;
}

}  // namespace

bool SettingsReadString(const std::string& section, const std::string& name, std::string* value) {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  platform::MutexLock lock(&g_settings_lock);
  Document doc;
  if (!LoadDocument(&doc)) return false;
  long at = FindValue(doc, section, name);
  return at >= 0 && UnescapeString(doc.lines[at].text(), value);
}

bool SettingsReadInt(const std::string& section, const std::string& name, std::int32_t* value) {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  platform::MutexLock lock(&g_settings_lock);
  Document doc;
  if (!LoadDocument(&doc)) return false;
  long at = FindValue(doc, section, name);
  return at >= 0 && ParseDword(doc.lines[at].text(), value);
}

bool SettingsWriteString(const std::string& section, const std::string& name,
                         const std::string& value) {
  return WriteValue(section, name, EscapeString(value));
}

bool SettingsWriteInt(const std::string& section, const std::string& name, std::int32_t value) {
  return WriteValue(section, name, FormatDword(value));
}

bool SettingsDeleteValue(const std::string& section, const std::string& name) {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  return RewriteDocument([&](Document* doc) { return DropValue(doc, section, name); });
}

bool SettingsApply(const std::vector<SettingsChange>& changes) {
  // A refused name fails the batch before the file is touched.
  for (const SettingsChange& c : changes)
    if (!ValidSectionName(c.section) || !ValidValueName(c.name)) return false;
  return RewriteDocument([&](Document* doc) {
    for (const SettingsChange& c : changes) {
      switch (c.kind) {
        case SettingsChange::kString:
          if (!SetValue(doc, c.section, c.name, EscapeString(c.text))) return false;
          break;
        case SettingsChange::kInt:
          if (!SetValue(doc, c.section, c.name, FormatDword(c.number))) return false;
          break;
        case SettingsChange::kDelete:
          DropValue(doc, c.section, c.name);
          break;
      }
    }
    return true;
  });
}

struct SettingsSnapshot::Values {
  // Folded "section\nname" to the value text of its first valid line.
  std::unordered_map<std::string, std::string> by_name;
};

SettingsSnapshot::SettingsSnapshot() {
  auto values = std::make_shared<Values>();
  Document doc;
  {
    platform::MutexLock lock(&g_settings_lock);
    LoadDocument(&doc);  // an unreadable file gives an empty snapshot
  }
  for (const Line& l : doc.lines)
    if (l.kind == LineKind::kValue)
      values->by_name.emplace(FoldedKey(l.section, l.name), std::string(l.text()));
  values_ = std::move(values);
}

bool SettingsSnapshot::ReadString(const std::string& section, const std::string& name,
                                  std::string* value) const {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  auto it = values_->by_name.find(FoldedKey(section, name));
  return it != values_->by_name.end() && UnescapeString(it->second, value);
}

bool SettingsSnapshot::ReadInt(const std::string& section, const std::string& name,
                               std::int32_t* value) const {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  auto it = values_->by_name.find(FoldedKey(section, name));
  return it != values_->by_name.end() && ParseDword(it->second, value);
}

bool SettingsSnapshot::Contains(const std::string& section, const std::string& name) const {
  if (!ValidSectionName(section) || !ValidValueName(name)) return false;
  return values_->by_name.count(FoldedKey(section, name)) != 0;
}

}  // namespace quindelo::platform
