// The index file reader on arbitrary file contents: the bytes become an
// index file, which is opened (and checked when it was not closed cleanly),
// scanned, scanned as the index find does it, read record by record, walked from the root along child ids with
// folder paths built for every folder, trimmed by a subtree deletion,
// compacted, closed and opened again; narrow and wide files alike (the seeds
// hold both). Whatever the bytes, nothing may crash,
// loop, read out of bounds or allocate beyond the file's size.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/string_pool.h"
#include "fuzz_support.h"
#include "index/folder_paths.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_cache.h"
#include "index/name_filter.h"
#include "index/pattern_set.h"

namespace quindelo {
namespace {

// Every entry of every folder record met in a scan of the whole file.
void ScanAll(IndexStore& store) {
  std::vector<std::uint8_t> buffer;
  store.BeginScan();
  // A scan ends by itself; the bound only turns a looping scan into a crash
  // report instead of a timeout.
  for (long n = 0; store.NextRecord(&buffer); ++n) {
    if (n > 1000000) fuzz::Fail("scan does not end");
    FolderRecordView view(store.layout());
    if (!view.Parse(buffer)) continue;
    EntryIterator it(view);
    FolderEntry entry;
    while (it.Next(&entry)) {
    }
  }
}

// The index find's pass: every record read in place, the names matched
// through the literal search, the paths of folders with a match built. The
// names it finds and where a list breaks must be what matching every name
// finds.
void FindAll(IndexStore& store) {
  PatternSet patterns;
  patterns.parse("*.txt;A?;e");
  const NameFilter filter(patterns);
  FolderPaths paths(&store);
  std::string path;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  store.BeginScan();
  for (long n = 0; store.NextRecordInPlace(&data, &length); ++n) {
    if (n > 1000000) fuzz::Fail("scan in place does not end");
    FolderRecordView view(store.layout());
    if (!view.Parse(data, length)) continue;
    paths.Note(view);
    std::vector<std::uint32_t> found, plain;
    const NameFilter::Walk walk = filter.ForEachMatch(view, [&](const FolderEntry& entry) {
      if (found.empty()) paths.Build(view.id(), &path);
      found.push_back(entry.position);
      return true;
    });
    EntryIterator it(view);
    FolderEntry entry;
    while (it.Next(&entry))
      if (patterns.match(entry.name)) plain.push_back(entry.position);
    if (found != plain || (walk == NameFilter::Walk::kBroken) != it.damaged())
      fuzz::Fail("the index find's pass differs from matching every name");
  }
}

// From the drive record's root folder along child ids, never visiting a
// folder twice; builds the path of each folder reached. Returns the id of a
// folder below the root with a record, or 0.
std::uint32_t WalkTree(IndexStore& store) {
  DriveRecord drive;
  if (!ReadDriveRecord(store, &drive) || drive.root_folder_id == 0) return 0;
  NameCache cache(store.table_length());
  StringPool pool;
  std::set<std::uint32_t> seen;
  std::vector<std::uint32_t> pending = {drive.root_folder_id};
  std::uint32_t below_root = 0;
  while (!pending.empty()) {
    std::uint32_t id = pending.back();
    pending.pop_back();
    if (!seen.insert(id).second) continue;
    std::vector<std::uint8_t> record;
    FolderRecordView view;
    if (!ReadFolderRecord(store, id, &record, &view)) continue;
    std::string path;
    BuildFolderPath(store, id, &cache, &pool, &path);
    if (id != drive.root_folder_id && below_root == 0) below_root = id;
    EntryIterator it(view);
    FolderEntry entry;
    while (it.Next(&entry))
      if (entry.is_folder && entry.child_id != 0) pending.push_back(entry.child_id);
  }
  return below_root;
}

void ReadEveryRecord(IndexStore& store) {
  std::vector<std::uint8_t> buffer;
  for (std::uint32_t id = 1; id < store.table_length(); ++id) {
    if (store.table_entry(id) == 0) continue;
    store.ReadRecord(id, &buffer);
  }
}

}  // namespace
}  // namespace quindelo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  static const std::string path = fuzz::ScratchFolder() + "/DriveT.idx";
  fuzz::WriteWholeFile(path, data, size);
  bool sound_after_close = false;
  {
    IndexStore store;
    if (store.Open(path)) {
      ScanAll(store);
      FindAll(store);
      ReadEveryRecord(store);
      std::uint32_t folder = WalkTree(store);
      if (folder != 0) DeleteFolderSubtree(store, folder);
      store.Compact(std::function<int()>());
      const bool damaged = store.is_damaged();
      sound_after_close = store.Close() && !damaged;
    }
  }
  // A file closed cleanly without damage opens again; any other file is
  // opened or refused, never a crash.
  IndexStore store;
  const bool reopened = store.Open(path).ok();
  if (sound_after_close && !reopened) fuzz::Fail("a sound index closed cleanly does not reopen");
  if (reopened) {
    ScanAll(store);
    WalkTree(store);
    store.Close();
  }
  return 0;
}
