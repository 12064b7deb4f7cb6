#include "commands/file_operation_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
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

bool IsDrivePath(std::string_view path) {
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\';
}

std::string IdentityKey(const platform::FileIdentity& id) {
  return std::to_string(id.device) + ':' + std::to_string(id.inode);
}

// The identities a plan looks up, each folder once.
class Places {
 public:
  explicit Places(const FileSystemView& view) : view_(view) {}

  // The identities of a native folder and of every folder holding it; null
  // when it is not a folder.
  const std::vector<platform::FileIdentity>* Holders(const std::string& native_folder) {
    auto [it, added] = holders_.try_emplace(native_folder);
    if (added) {
      std::vector<platform::FileIdentity> found;
      if (view_.FolderHolders(native_folder, &found) && !found.empty()) it->second = std::move(found);
    }
    return it->second ? &*it->second : nullptr;
  }

  // The holders of the nearest existing folder on the way to a native path
  // (its parent, else the parent's parent, and so on), with the names from
  // there down to the path in *below; null when none exists.
  const std::vector<platform::FileIdentity>* Above(const std::string& native_path,
                                                   std::string* below) {
    below->clear();
    std::string path = native_path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    for (;;) {
      std::size_t slash = path.rfind('/');
      if (slash == std::string::npos || path.size() <= 1) return nullptr;
      std::string name = path.substr(slash + 1);
      *below = below->empty() ? name : name + '/' + *below;
      path.resize(slash == 0 ? 1 : slash);
      if (const auto* holders = Holders(path)) return holders;
    }
  }

  // The place a native path names, the same for two paths into one folder
  // under one name whether or not anything is there yet: the identity of
  // the nearest existing folder on the way and the names below it.
  std::string Key(const std::string& native_path) {
    std::string below;
    const auto* holders = Above(native_path, &below);
    if (holders == nullptr) return "=" + native_path;
    return IdentityKey(holders->front()) + '/' + below;
  }

 private:
  const FileSystemView& view_;
  std::unordered_map<std::string, std::optional<std::vector<platform::FileIdentity>>> holders_;
};

}  // namespace

std::string DrivePathFault(std::string_view drive_path) {
  if (!IsDrivePath(drive_path)) return std::string();
  std::size_t at = 3;
  for (;;) {
    std::size_t end = drive_path.find('\\', at);
    bool last = end == std::string_view::npos;
    std::string_view name = drive_path.substr(at, last ? std::string_view::npos : end - at);
    if (name.empty() && !last) return "it holds an empty name";
    if (name == "." || name == "..") return "it holds " + Quoted(name) + " as a name";
    if (name.find('/') != std::string_view::npos) return "a name in it holds \"/\"";
    if (name.find('\0') != std::string_view::npos) return "it holds a zero byte";
    if (last || end + 1 == drive_path.size()) return std::string();
    at = end + 1;
  }
}

DiskView::DiskView() = default;
DiskView::~DiskView() = default;

bool DiskView::ToNative(const std::string& drive_path, std::string* native_path) const {
  if (!IsDrivePath(drive_path) || !DrivePathFault(drive_path).empty()) return false;
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

bool DiskView::Identity(const std::string& native_path, platform::FileIdentity* identity) const {
  return platform::EntryIdentity(native_path, identity);
}

bool DiskView::FolderHolders(const std::string& native_folder,
                             std::vector<platform::FileIdentity>* holders) const {
  return platform::FolderHolders(native_folder, holders);
}

FileOperationPlan PlanFileOperation(FileOperation op, const std::vector<std::string>& sources,
                                    std::string_view text, const FileSystemView& view) {
  FileOperationPlan plan;
  const bool deleting = op == FileOperation::kDelete || op == FileOperation::kDeletePermanently;
  const bool renaming = op == FileOperation::kRename;
  plan.confirm_first = op == FileOperation::kDeletePermanently;

  std::vector<std::string> native(sources.size());
  std::vector<std::string> refused(sources.size());  // why a source's path cannot be used
  for (std::size_t i = 0; i < sources.size(); ++i) {
    refused[i] = DrivePathFault(sources[i]);
    if (refused[i].empty()) view.ToNative(sources[i], &native[i]);
  }

  auto skip = [&plan](PlannedStep step, std::string problem) {
    step.action = StepAction::kSkip;
    if (!problem.empty()) ++plan.skip_count;
    step.problem = std::move(problem);
    plan.steps.push_back(std::move(step));
  };
  // The source's step, or false when its file is skipped.
  auto begin_step = [&](std::size_t i, PlannedStep* step) {
    step->source = sources[i];
    step->native_source = native[i];
    if (!refused[i].empty()) {
      skip(std::move(*step), Message("The file ", sources[i], " is refused: " + refused[i] + "."));
      return false;
    }
    EntryKind kind = native[i].empty() ? EntryKind::kMissing : view.Kind(native[i]);
    if (kind == EntryKind::kMissing) {
      skip(std::move(*step), Message("The file ", sources[i], " no longer exists."));
      return false;
    }
    step->source_is_folder = kind == EntryKind::kFolder;
    return true;
  };

  if (deleting) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
      PlannedStep step;
      if (!begin_step(i, &step)) continue;
      step.action = op == FileOperation::kDelete ? StepAction::kTrash : StepAction::kDelete;
      plan.steps.push_back(std::move(step));
    }
    return plan;
  }

  if (text.empty()) {
    plan.error = renaming ? "No new name was given." : "No destination folder was given.";
    return plan;
  }
  if (!renaming) {
    std::string fault = DrivePathFault(text);
    if (!fault.empty()) {
      plan.error = Message("The destination ", text, " is refused: " + fault + ".");
      return plan;
    }
  }

  // Copy and Move take a text whose last name holds "*" or "?" as a name
  // pattern, one destination per file, unless the text names an existing
  // folder; wildcards in the folders before it are plain characters.
  bool per_file = renaming || HasWildcard(NameOf(text));
  if (per_file && !renaming) {
    std::string as_folder(text);
    if (as_folder.size() > 3 && as_folder.back() == '\\') as_folder.pop_back();
    std::string native_folder;
    if (view.ToNative(as_folder, &native_folder) && view.Kind(native_folder) == EntryKind::kFolder)
      per_file = false;
  }
  std::vector<std::string> destinations =
      per_file ? DestinationList(text, sources, true)
               : std::vector<std::string>{FolderDestination(text)};

  // The one folder that every destination lies in, when the text names one.
  std::string folder;
  if (!per_file)
    folder = FolderOf(destinations.front());
  else if (text.find('\\') != std::string_view::npos)
    folder = FolderOf(text);
  if (!folder.empty() || text.front() == '\\') {
    std::string native_folder;
    std::string fault = DrivePathFault(folder);
    if (!fault.empty()) {
      plan.error = Message("The destination ", folder, " is refused: " + fault + ".");
      return plan;
    }
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

  Places places(view);
  // The selected files by identity, each with its last position.
  std::vector<std::optional<platform::FileIdentity>> identity(sources.size());
  std::unordered_map<std::string, std::size_t> source_index;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    platform::FileIdentity id;
    if (!native[i].empty() && view.Identity(native[i], &id)) {
      identity[i] = id;
      source_index[IdentityKey(id)] = i;
    }
  }

  std::unordered_set<std::string> written;  // places of earlier steps' destinations
  std::unordered_set<std::string> vacated;  // places that earlier steps move away from
  for (std::size_t i = 0; i < sources.size(); ++i) {
    PlannedStep step;
    if (!begin_step(i, &step)) continue;
    if (!identity[i]) {
      skip(std::move(step), Message("The file ", sources[i], " no longer exists."));
      continue;
    }

    bool built = !per_file
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
    std::string fault = DrivePathFault(step.destination);
    if (!fault.empty()) {
      skip(std::move(step), Message("The destination ", step.destination, " is refused: " + fault + "."));
      continue;
    }
    if (!view.ToNative(step.destination, &step.native_destination)) {
      skip(std::move(step), Message("The destination ", step.destination, " is not on a drive."));
      continue;
    }
    const std::string& to = step.native_destination;
    const std::string place = places.Key(to);
    const std::string source_place = places.Key(native[i]);
    platform::FileIdentity there;
    const bool occupied = vacated.count(place) == 0 && view.Identity(to, &there);
    const bool same_place = to == native[i] || place == source_place;
    if (same_place || (occupied && there == *identity[i] && !renaming)) {
      if (renaming)
        skip(std::move(step), std::string());  // the name does not change
      else
        skip(std::move(step), Message("", sources[i], " cannot be " + std::string(Verb(op)) +
                                                          " onto itself."));
      continue;
    }
    if (step.source_is_folder) {
      std::string below;
      const auto* holders = places.Above(to, &below);
      if (holders != nullptr &&
          std::find(holders->begin(), holders->end(), *identity[i]) != holders->end()) {
        skip(std::move(step), Message("The folder ", sources[i],
                                      " cannot be " + std::string(renaming ? "moved" : Verb(op)) +
                                          " into itself."));
        continue;
      }
    }
    if (written.count(place) != 0) {
      skip(std::move(step), Message("More than one file would be written to ", step.destination, "."));
      continue;
    }
    if (occupied) {
      auto later = source_index.find(IdentityKey(there));
      if (later != source_index.end() && later->second > i) {
        skip(std::move(step), Message("", sources[i], " would replace " +
                                                          Quoted(sources[later->second]) +
                                                          " before that file is dealt with."));
        continue;
      }
    }
    EntryKind existing = occupied ? view.Kind(to) : EntryKind::kMissing;
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
    written.insert(place);
    if (op != FileOperation::kCopy) vacated.insert(source_place);
    plan.steps.push_back(std::move(step));
  }
  return plan;
}

}  // namespace quindelo::commands
