#include "app/native_paths.h"

#include <cctype>

#include "app/settings_store.h"
#include "platform/paths.h"

namespace quindelo {
namespace {

bool IsDriveStart(const std::string& text, std::size_t at) {
  return at + 1 < text.size() && std::isalpha(static_cast<unsigned char>(text[at])) &&
         text[at + 1] == ':';
}

// Calls element(text) for each ';'-separated element and joins the results.
template <typename Convert>
std::string EachElement(const std::string& look_in, Convert convert) {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t semicolon = look_in.find(';', at);
    const std::string element = look_in.substr(
        at, semicolon == std::string::npos ? std::string::npos : semicolon - at);
    if (at > 0) out += ';';
    out += convert(element);
    if (semicolon == std::string::npos) return out;
    at = semicolon + 1;
  }
}

}  // namespace

bool ReadNativePathsOption() {
  int value = 1;
  SettingsStore store;
  if (!store.ReadInt(settings::kOptions, settings::kNativePaths, &value)) return true;
  return value != 0;
}

bool WriteNativePathsOption(bool on) {
  SettingsStore store;
  return store.WriteInt(settings::kOptions, settings::kNativePaths, on ? 1 : 0);
}

std::string LookInToDriveForm(const std::string& look_in, std::string* unplaced) {
  return EachElement(look_in, [&](const std::string& element) {
    const std::size_t first = element.find_first_not_of(" \t");
    if (first == std::string::npos || element[first] != '/') return element;
    std::string drive_path;
    if (platform::ToDrivePath(element.substr(first), &drive_path)) return drive_path;
    if (unplaced != nullptr && unplaced->empty()) *unplaced = element.substr(first);
    return element;
  });
}

std::string LookInToNativeForm(const std::string& look_in) {
  char drive = 0;
  return EachElement(look_in, [&](const std::string& element) {
    const std::size_t first = element.find_first_not_of(" \t");
    if (first == std::string::npos) return element;
    std::string drive_path;
    if (IsDriveStart(element, first)) {
      drive = static_cast<char>(std::toupper(static_cast<unsigned char>(element[first])));
      drive_path = element.substr(first);
      if (drive_path.size() == 2) drive_path += '\\';
      else if (drive_path[2] != '\\') return element;  // "C:usr" is refused as typed
    } else if (element[first] == '\\' && drive != 0) {
      drive_path = std::string(1, drive) + ":" + element.substr(first);
    } else {
      return element;
    }
    std::string native;
    if (!platform::ToNativePath(drive_path, &native)) return element;
    if (native.size() > 1 && native.back() == '/') native.pop_back();
    return native;
  });
}

std::string QuotedPathsToNative(const std::string& message) {
  std::string out;
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t open = message.find('"', at);
    if (open == std::string::npos) break;
    const std::size_t close = message.find('"', open + 1);
    if (close == std::string::npos) break;
    out.append(message, at, open + 1 - at);
    std::string quoted = message.substr(open + 1, close - open - 1);
    if (IsDriveStart(quoted, 0) && quoted.size() > 2 && quoted[2] == '\\') {
      const bool star = quoted.back() == '*';
      if (star) quoted.pop_back();
      std::string native;
      if (platform::ToNativePath(quoted, &native)) quoted = native;
      if (star) quoted += '*';
    }
    out += quoted;
    out += '"';
    at = close + 1;
  }
  out.append(message, at, std::string::npos);
  return out;
}

}  // namespace quindelo
