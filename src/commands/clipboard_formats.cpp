#include "commands/clipboard_formats.h"

namespace quindelo::commands {
namespace {

bool KeptInUri(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::string FileUri(std::string_view native_path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  uri.reserve(uri.size() + native_path.size() * 3);
  for (char c : native_path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (KeptInUri(byte)) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    }
  }
  return uri;
}

bool NativePathOfUri(std::string_view uri, std::string* native_path) {
  if (!StartsWithNoCase(uri, "file:")) return false;
  std::string_view rest = uri.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return false;
    std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost"))) return false;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/') return false;
  std::string path;
  path.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    if (i + 2 >= rest.size()) return false;
    int high = HexValue(rest[i + 1]);
    int low = HexValue(rest[i + 2]);
    if (high < 0 || low < 0) return false;
    char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0' || byte == '/') return false;  // no name holds either
    path += byte;
    i += 2;
  }
  *native_path = std::move(path);
  return true;
}

ClipboardData BuildClipboardData(const std::vector<std::string>& native_paths,
                                 ClipboardAction action) {
  ClipboardData data;
  data.gnome_copied = action == ClipboardAction::kCut ? "cut" : "copy";
  for (std::size_t i = 0; i < native_paths.size(); ++i) {
    std::string uri = FileUri(native_paths[i]);
    if (i > 0) data.text += '\n';
    data.text += native_paths[i];
    data.uri_list += uri;
    data.uri_list += "\r\n";
    data.gnome_copied += '\n';
    data.gnome_copied += uri;
  }
  // assign(1, '1') rather than = "1": GCC 12 at -O3 warns falsely about the
  // literal's copy (GCC bug 105329).
  if (action == ClipboardAction::kCut) data.kde_cut.assign(1, '1');
  return data;
}

std::vector<std::string> ParseUriList(std::string_view uri_list) {
  std::vector<std::string> paths;
  std::size_t at = 0;
  while (at < uri_list.size()) {
    std::size_t end = uri_list.find('\n', at);
    if (end == std::string_view::npos) end = uri_list.size();
    std::string_view line = uri_list.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::string path;
    if (NativePathOfUri(line, &path)) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace quindelo::commands
