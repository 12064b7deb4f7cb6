#include "platform/mount_table.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quindelo::platform {

std::string UnescapeMountField(const std::string& s) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) &&
        octal(s[i + 3])) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ReadMountTable() {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMountTable(text.str());
}

std::vector<MountEntry> ParseMountTable(const std::string& text) {
  std::vector<MountEntry> mounts;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root point options [optional fields...] - type source ...
    std::istringstream fields(line);
    std::string parent, devno, root, point;
    MountEntry m;
    if (!(fields >> m.id >> parent >> devno >> root >> point)) continue;
    if (std::sscanf(devno.c_str(), "%u:%u", &m.major, &m.minor) != 2) continue;
    std::string word;
    while (fields >> word && word != "-") {
    }
    if (!(fields >> m.fs_type >> m.source)) continue;
    m.root = UnescapeMountField(root);
    m.point = UnescapeMountField(point);
    m.source = UnescapeMountField(m.source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

}  // namespace quindelo::platform
