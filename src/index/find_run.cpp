#include "index/find_run.h"

namespace quindelo {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool FindRun::Set(const FindRequest& request, std::string* message) {
  look_in_.clear();
  for (std::size_t i = 0; i < request.look_in_list.Count(); ++i) {
    std::string folder(request.look_in_list.Item(i));
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    look_in_.push_back(folder);
  }
  include_subfolders_ = request.include_subfolders;
  patterns_.parse(request.named_text);
  ++generation_;
  has_content_ = false;
  if (request.containing_text.empty()) return true;
  std::string error;
  if (!expression_.Compile(request.containing_text, &error)) {
    if (message) *message = error;
    return false;
  }
  has_content_ = true;
  return true;
}

bool FindRun::FolderInScope(const std::string& folder_path) const {
  if (look_in_.empty()) {
    // Only the root itself when subfolders are excluded.
    return include_subfolders_ || folder_path.size() <= 1;
  }
  for (const std::string& l : look_in_) {
    if (folder_path.size() <= l.size() || folder_path[l.size()] != '\\') continue;
    if (folder_path.compare(0, l.size(), l) != 0) continue;
    if (include_subfolders_ || folder_path.size() == l.size() + 1) return true;
  }
  return false;
}

FindRun::WalkScope FindRun::ScopeOfWalkFolder(std::string_view drive_folder) const {
  WalkScope scope;
  if (look_in_.empty() && include_subfolders_) return scope;
  std::string_view rel(drive_folder);
  rel.remove_prefix(2);  // "\a\b\"
  scope.in_scope = look_in_.empty();
  std::size_t matched = 0;  // length of the look-in folder whose backslash follows
  for (const std::string& l : look_in_) {
    if (rel.size() > l.size() && rel[l.size()] == '\\' && StartsWith(rel, l)) {
      scope.in_scope = true;
      matched = l.size();
      break;
    }
    if (!scope.above && l.size() >= rel.size() && StartsWith(l, rel)) scope.above = true;
  }
  if (!include_subfolders_ && scope.in_scope && rel.size() > matched + 1) scope.in_scope = false;
  return scope;
}

}  // namespace quindelo
