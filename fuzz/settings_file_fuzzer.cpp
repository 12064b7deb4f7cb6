// The settings reader on arbitrary file contents: the values named in the
// file are read, one value is written, and then the written value reads
// back as written while every other value named in the file reads as
// before the write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/file.h"
#include "platform/settings_file.h"

namespace quindelo {
namespace {

struct Named {
  std::string section;
  std::string name;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The (section, name) pairs the file's lines seem to name, at most 64.
std::vector<Named> NamesIn(std::string_view file) {
  std::vector<Named> out;
  std::string section;
  while (!file.empty() && out.size() < 64) {
    const std::size_t end = file.find('\n');
    const std::string_view line = Trim(file.substr(0, end));
    if (!line.empty() && line.front() == '[') {
      const std::size_t close = line.find(']');
      section = std::string(Trim(line.substr(1, close == std::string_view::npos ? 0 : close - 1)));
    } else if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
      out.push_back({section, std::string(Trim(line.substr(0, eq)))});
    }
    if (end == std::string_view::npos) break;
    file.remove_prefix(end + 1);
  }
  return out;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

struct Value {
  bool is_string = false;
  bool is_int = false;
  std::string text;
  std::int32_t number = 0;
  bool operator==(const Value&) const = default;
};

Value ReadValue(const platform::SettingsSnapshot& snapshot, const Named& n) {
  Value v;
  v.is_string = snapshot.ReadString(n.section, n.name, &v.text);
  v.is_int = snapshot.ReadInt(n.section, n.name, &v.number);
  if (v.is_string && v.is_int) fuzz::Fail("a value reads as both a string and an integer");
  if (snapshot.Contains(n.section, n.name) != (v.is_string || v.is_int))
    fuzz::Fail("Contains disagrees with the reads");
  return v;
}

}  // namespace
}  // namespace quindelo

// Input: a byte that picks the written value's length, then the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  static const std::string path = [] {
    const std::string config = fuzz::ScratchFolder() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    platform::CreateFolders(config + "/Pemblet Software");
    return platform::SettingsFilePath();
  }();
  if (size < 1) return 0;
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzz::WriteWholeFile(path, data + 1, size - 1);

  const std::vector<Named> names = NamesIn(file);
  std::vector<Value> before;
  {
    const platform::SettingsSnapshot snapshot;
    for (const Named& n : names) before.push_back(ReadValue(snapshot, n));
  }
  // The written value: some bytes of the file itself, any bytes at all.
  const std::string written(file.substr(0, data[0] % 64));
  const Named target{"Fuzz Section", "Fuzz Value"};
  const bool wrote = platform::SettingsWriteString(target.section, target.name, written);

  const platform::SettingsSnapshot snapshot;
  if (wrote) {
    std::string back;
    if (!snapshot.ReadString(target.section, target.name, &back) || back != written)
      fuzz::Fail("a written string does not read back");
    std::string direct;
    if (!platform::SettingsReadString(target.section, target.name, &direct) || direct != written)
      fuzz::Fail("a snapshot and a direct read disagree");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Named& n = names[i];
    if (SameNoCase(n.section, target.section) && SameNoCase(n.name, target.name)) continue;
    if (ReadValue(snapshot, n) != before[i]) fuzz::Fail("a write changed another value");
  }
  return 0;
}
