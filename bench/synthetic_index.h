// The index file of a synthetic drive, for the benchmarks that read an
// index: folders of 10 to 28 names each, one name in 20 a folder, at most
// 12 levels deep; names like "report417.txt" and folders like "album_2071";
// the same drive for the same number of names.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/index_records.h"
#include "index/index_store.h"

namespace quindelo {

struct SyntheticCounts {
  std::uint64_t names = 0;
  std::uint64_t folders = 0;
};

// Writes the drive's folder records into the open store and flushes it;
// aborts on any failure.
inline SyntheticCounts WriteSyntheticDrive(IndexStore& store, int total_names) {
  SyntheticCounts counts;
  static const char* const kStems[] = {
      "main",   "util",   "index",   "config", "readme",   "notes",    "report", "image",
      "photo",  "data",   "test",    "build",  "module",   "parser",   "driver", "window",
      "table",  "record", "folder",  "invoice", "letter",  "draft",    "summary", "schedule",
      "budget", "backup", "archive", "player", "track",    "album"};
  static const char* const kTypes[] = {".txt", ".c",   ".h",   ".cpp", ".py",   ".md",
                                       ".json", ".jpg", ".png", ".pdf", ".doc",  ".xml",
                                       ".html", ".log", ".o",   ".so",  ".TXT"};
  std::mt19937 rng(1);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  struct Folder {
    int parent;
    int depth;
    std::string name;
    std::vector<std::string> files;
    std::vector<int> children;
  };
  std::vector<Folder> folders(1, Folder{-1, 0, "", {}, {}});
  int made = 0;
  while (made < total_names) {
    int parent = folders.size() > 1 ? pick(static_cast<int>(folders.size())) : 0;
    if (folders[parent].depth >= 12) parent = 0;
    const int id = static_cast<int>(folders.size());
    folders.push_back(Folder{parent, folders[parent].depth + 1,
                             std::string(kStems[pick(30)]) + "_" + std::to_string(id), {}, {}});
    folders[parent].children.push_back(id);
    ++made;
    for (int n = 10 + pick(19); n > 0 && made < total_names; --n) {
      folders[id].files.push_back(std::string(kStems[pick(30)]) + std::to_string(pick(1000)) +
                                  kTypes[pick(17)]);
      ++made;
    }
  }
  std::vector<index_format::RecordId> ids(folders.size());
  for (auto& id : ids) {
    id = store.AllocateId();
    if (id == 0) std::abort();  // more folders than a narrow index holds
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const Folder& f = folders[i];
    std::map<std::string, int, bool (*)(const std::string&, const std::string&)> entries(
        [](const std::string& a, const std::string& b) { return CompareNames(a, b) < 0; });
    for (const std::string& file : f.files) entries.emplace(file, -1);
    for (int child : f.children) entries.emplace(folders[child].name, child);
    FolderRecordBuilder builder;
    builder.Begin(ids[i], 0x5EED0000u, f.parent < 0 ? 0 : ids[f.parent], f.name);
    for (const auto& [name, child] : entries) {
      if (child >= 0)
        builder.AddFolder(name, ids[child]);
      else
        builder.AddFile(name);
    }
    if (!store.WriteRecord(builder.Finish())) std::abort();
    counts.names += entries.size();
  }
  if (!store.Flush()) std::abort();
  counts.folders = folders.size();
  return counts;
}

}  // namespace quindelo
