#include "commands/file_operation_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_map>
#include <unordered_set>

#include "commands/wildcard_name.h"
#include "platform/drive_table.h"
#include "platform/paths.h"

namespace quindelo::commands {
namespace {

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  out += text;
  out += '"';
  return out;
}

std::string Message(std::string_view before, std::string_view path, std::string_view after) {
  std::string out(before);
  out += Quoted(path);
  out += after;
  return out;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The folder a destination entry names: everything up to its last
// backslash, kept for a drive's root ("D:\") and cut otherwise.
std::string FolderOf(std::string_view path) {
  std::size_t slash = path.rfind('\\');
  if (slash == std::string_view::npos) return std::string();
  if (slash == 2 && path[1] == ':') return std::string(path.substr(0, 3));
  return std::string(path.substr(0, slash));
}

bool IsValidName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string_view NameOf(std::string_view path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

const char* Verb(FileOperation op) { return op == FileOperation::kCopy ? "copied" : "moved"; }

}  // namespace

DiskView::DiskView() = default;
DiskView::~DiskView() = default;

bool DiskView::ToNative(const std::string& drive_path, std::string* native_path) const {
  if (drive_path.size() < 3 || !IsDriveLetter(drive_path[0]) || drive_path[1] != ':' ||
      drive_path[2] != '\\')
    return false;
  int index = (drive_path[0] | 0x20) - 'a';
  if (!looked_up_[index]) {
    platform::DriveEntry entry;
    if (platform::LookUpDrive(drive_path[0], &entry, false)) roots_[index] = entry.root;
    looked_up_[index] = true;
  }
  if (roots_[index].empty()) return false;
  *native_path = platform::NativePathBelow(roots_[index], drive_path);
  return true;
}

EntryKind DiskView::Kind(const std::string& native_path) const {
  struct stat st;
  if (lstat(native_path.c_str(), &st) != 0) return EntryKind::kMissing;
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  return EntryKind::kOther;
}

bool DiskView::CanWriteIn(const std::string& native_folder) const {
  return faccessat(AT_FDCWD, native_folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

FileOperationPlan PlanFileOperation(FileOperation op, const std::vector<std::string>& sources,
                                    std::string_view text, const FileSystemView& view) {
  FileOperationPlan plan;
  const bool deleting = op == FileOperation::kDelete || op == FileOperation::kDeletePermanently;
  const bool renaming = op == FileOperation::kRename;
  plan.confirm_first = op == FileOperation::kDeletePermanently;

  std::vector<std::string> native(sources.size());
  std::unordered_map<std::string, std::size_t> source_index;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (view.ToNative(sources[i], &native[i])) source_index.emplace(native[i], i);
  }

  auto skip = [&plan](PlannedStep step, std::string problem) {
    step.action = StepAction::kSkip;
    if (!problem.empty()) ++plan.skip_count;
    step.problem = std::move(problem);
    plan.steps.push_back(std::move(step));
  };

  if (deleting) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
      PlannedStep step;
      step.source = sources[i];
      step.native_source = native[i];
      EntryKind kind = native[i].empty() ? EntryKind::kMissing : view.Kind(native[i]);
      if (kind == EntryKind::kMissing) {
        skip(std::move(step), Message("The file ", sources[i], " no longer exists."));
        continue;
      }
      step.source_is_folder = kind == EntryKind::kFolder;
      step.action = op == FileOperation::kDelete ? StepAction::kTrash : StepAction::kDelete;
      plan.steps.push_back(std::move(step));
    }
    return plan;
  }

  if (text.empty()) {
    plan.error = renaming ? "No new name was given." : "No destination folder was given.";
    return plan;
  }
  std::vector<std::string> destinations = DestinationList(text, sources, renaming);

  // The one folder that every destination lies in, when the text names one.
  std::string folder;
  if (!renaming && !HasWildcard(text))
    folder = FolderOf(destinations.front());
  else if (text.find('\\') != std::string_view::npos)
    folder = FolderOf(text);
  if (!folder.empty() || text.front() == '\\') {
    std::string native_folder;
    if (folder.empty() || !view.ToNative(folder, &native_folder)) {
      plan.error = Message("The destination ", folder.empty() ? text : folder, " is not on a drive.");
      return plan;
    }
    switch (view.Kind(native_folder)) {
      case EntryKind::kMissing: {
        PlannedStep make;
        make.action = StepAction::kMakeFolder;
        make.destination = folder;
        make.native_destination = native_folder;
        plan.steps.push_back(std::move(make));
        break;
      }
      case EntryKind::kFolder:
        if (!view.CanWriteIn(native_folder)) {
          plan.error = Message("The destination folder ", folder, " is read-only.");
          return plan;
        }
        break;
      default:
        plan.error = Message("The destination ", folder, " is a file, not a folder.");
        return plan;
    }
  }

  std::unordered_set<std::string> written;  // destinations of earlier steps
  std::unordered_set<std::string> vacated;  // sources that earlier steps move away
  for (std::size_t i = 0; i < sources.size(); ++i) {
    PlannedStep step;
    step.source = sources[i];
    step.native_source = native[i];
    EntryKind kind = native[i].empty() ? EntryKind::kMissing : view.Kind(native[i]);
    if (kind == EntryKind::kMissing) {
      skip(std::move(step), Message("The file ", sources[i], " no longer exists."));
      continue;
    }
    step.source_is_folder = kind == EntryKind::kFolder;

    bool built = destinations.size() == 1 && !renaming
                     ? WildcardDestinationName(destinations.front(), sources[i], &step.destination)
                     : !(step.destination = destinations[i]).empty();
    if (!built) {
      skip(std::move(step),
           Message("The new name of ", sources[i], " would be longer than 259 characters."));
      continue;
    }
    std::string_view name = NameOf(step.destination);
    if (!IsValidName(name)) {
      skip(std::move(step), Message("", name, " is not a valid file name."));
      continue;
    }
    if (!view.ToNative(step.destination, &step.native_destination)) {
      skip(std::move(step), Message("The destination ", step.destination, " is not on a drive."));
      continue;
    }
    const std::string& to = step.native_destination;
    if (to == native[i]) {
      if (renaming)
        skip(std::move(step), std::string());  // the name does not change
      else
        skip(std::move(step), Message("", sources[i], " cannot be " + std::string(Verb(op)) +
                                                          " onto itself."));
      continue;
    }
    if (step.source_is_folder && to.size() > native[i].size() &&
        to.compare(0, native[i].size(), native[i]) == 0 && to[native[i].size()] == '/') {
      skip(std::move(step), Message("The folder ", sources[i],
                                    " cannot be " + std::string(renaming ? "moved" : Verb(op)) +
                                        " into itself."));
      continue;
    }
    if (written.count(to) != 0) {
      skip(std::move(step), Message("More than one file would be written to ", step.destination, "."));
      continue;
    }
    auto later = source_index.find(to);
    if (later != source_index.end() && later->second > i) {
      skip(std::move(step), Message("", sources[i], " would replace " + Quoted(sources[later->second]) +
                                                        " before that file is dealt with."));
      continue;
    }
    EntryKind existing = vacated.count(to) != 0 ? EntryKind::kMissing : view.Kind(to);
    if (existing == EntryKind::kFolder) {
      skip(std::move(step), Message("The folder ", step.destination, " already exists."));
      continue;
    }
    if (existing != EntryKind::kMissing && step.source_is_folder) {
      skip(std::move(step), Message("A file ", step.destination, " is in the way of the folder."));
      continue;
    }
    step.replaces_existing = existing != EntryKind::kMissing;
    if (step.replaces_existing) ++plan.replace_count;
    step.action = op == FileOperation::kCopy   ? StepAction::kCopy
                  : op == FileOperation::kMove ? StepAction::kMove
                                               : StepAction::kRename;
    written.insert(to);
    if (op != FileOperation::kCopy) vacated.insert(native[i]);
    plan.steps.push_back(std::move(step));
  }
  return plan;
}

}  // namespace quindelo::commands
