#include "commands/selection.h"

#include <array>
#include <optional>

#include "platform/drive_table.h"
#include "platform/paths.h"

namespace quindelo::commands {

bool NextSelectedPath(const RowSelection& selection, int* row, std::string* path) {
  for (int next = selection.NextSelectedRow(*row); next >= 0;
       next = selection.NextSelectedRow(next)) {
    *row = next;
    if (const FoundFile* record = selection.RowRecord(next)) {
      *path = FullPath(*record);
      return true;
    }
  }
  return false;
}

std::vector<SelectedFile> CollectSelectedFiles(const RowSelection& selection) {
  // Native roots by drive letter, looked up on first use; an unknown letter
  // is remembered as an empty root.
  std::array<std::optional<std::string>, 26> roots;
  std::vector<SelectedFile> files;
  for (int row = selection.NextSelectedRow(-1); row >= 0; row = selection.NextSelectedRow(row)) {
    const FoundFile* record = selection.RowRecord(row);
    if (record == nullptr) continue;
    SelectedFile file;
    file.path = FullPath(*record);
    file.drive_path = UncutPath(*record);
    const std::string& whole = file.drive_path;
    char letter = whole.empty() ? 0 : whole[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter >= 'A' && letter <= 'Z' && whole.size() >= 3 && whole[1] == ':' && whole[2] == '\\') {
      std::optional<std::string>& root = roots[letter - 'A'];
      if (!root) {
        platform::DriveEntry entry;
        root = platform::LookUpDrive(letter, &entry, false) && !entry.root.empty()
                   ? entry.root
                   : std::string();
      }
      if (!root->empty()) file.native_path = platform::NativePathBelow(*root, whole);
    }
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<std::string> NativePaths(const std::vector<SelectedFile>& files) {
  std::vector<std::string> paths;
  for (const SelectedFile& file : files)
    if (!file.native_path.empty()) paths.push_back(file.native_path);
  return paths;
}

std::string WorkingFolder(std::string_view native_path) {
  std::string_view path = native_path;
  if (!path.empty() && path.front() == '"') {
    std::size_t close = path.find('"', 1);
    path = path.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  }
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

}  // namespace quindelo::commands
