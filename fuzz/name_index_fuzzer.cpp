// The name index reader on arbitrary file contents: the bytes are decoded,
// and read as a file beside an index; whatever they hold, nothing may
// crash, loop, read out of bounds or allocate beyond the file's size. What
// is accepted must be written back byte for byte, must stay readable after
// folder-by-folder updates, and, put over a small index of its own (its
// identity made the index's, so that its posting lists and checksums are
// believed), must never make the index find give a name that a scan of
// every record does not give, nor, when it is the index's own file, miss
// one.
//
// Bytes that start with 'I' are an index file instead (the seeds hold some
// of fuzz/corpus/index_file/): the name index built from whatever opens
// must read back, and the finds narrowed by it must give what a scan of
// every record gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_filter.h"
#include "index/name_index.h"
#include "index/pattern_set.h"

namespace quindelo {
namespace {

// An index of 12 folders with names that share trigrams, made once per
// process; its drive record's times are fixed, so that its identity is the
// same in every process.
IndexStore& FixedStore() {
  static IndexStore* const store = [] {
    auto* s = new IndexStore;
    if (!s->Open(fuzz::ScratchFolder() + "/DriveT.idx")) fuzz::Fail("cannot make the index");
    DriveRecord drive;
    drive.created = 1;
    drive.last_saved = 2;
    if (!s->WriteRecord(drive.Encode(s->layout()))) fuzz::Fail("cannot write the drive record");
    static const char* const kNames[] = {"report.txt", "Report2.TXT", "abc", "zebra.cfg",
                                         "notes.md",   "dir_data",    "ab",  "letter."};
    for (int i = 0; i < 12; ++i) {
      const index_format::RecordId id = s->AllocateId();
      std::vector<std::string> names;
      for (int k = 0; k < 8; ++k)
        if ((i + k) % 3 != 0) names.push_back(kNames[k] + std::to_string(i % 4));
      std::sort(names.begin(), names.end(),
                [](const std::string& a, const std::string& b) { return CompareNames(a, b) < 0; });
      FolderRecordBuilder builder(s->layout());
      builder.Begin(id, 1, i == 0 ? 0 : 4, i == 0 ? "" : "f" + std::to_string(i));
      for (const std::string& name : names) builder.AddFile(name);
      if (!s->WriteRecord(builder.Finish())) fuzz::Fail("cannot write a folder");
    }
    if (!s->Flush()) fuzz::Fail("cannot flush the index");
    return s;
  }();
  return *store;
}

// The name index of FixedStore, as written.
const std::string& BuiltFile() {
  static const std::string file = [] {
    NameIndex index;
    if (!index.Build(FixedStore())) fuzz::Fail("cannot build the name index");
    return index.Encode();
  }();
  return file;
}

std::vector<std::string> Found(IndexStore& store, const NameIndex* index,
                               const PatternSet& patterns) {
  std::vector<std::string> found;
  const NameFilter filter(patterns);
  ForEachFolderToSearch(store, index, patterns, [&](const FolderRecordView& folder) {
    filter.ForEachMatch(folder, [&](const FolderEntry& entry) {
      found.push_back(std::to_string(folder.id()) + "/" + std::string(entry.name));
      return true;
    });
    return true;
  });
  std::sort(found.begin(), found.end());
  return found;
}

void CheckIndexFile(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFolder() + "/DriveI.idx";
  fuzz::WriteWholeFile(path, data, size);
  IndexStore store;
  if (!store.Open(path)) return;
  NameIndex built;
  if (!built.Build(store)) return;
  const std::string file = built.Encode();
  NameIndex index;
  if (!index.Decode(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()))
    fuzz::Fail("a built name index does not read back");
  // A record that is no sound folder record leaves the table holding more
  // records than the name index folders: then it describes nothing.
  if (!index.Describes(store)) return;
  for (const char* text : {"makefile", "*.txt", "deep*;b.log", "other", "name1"}) {
    PatternSet patterns;
    patterns.parse(text);
    if (Found(store, &index, patterns) != Found(store, nullptr, patterns))
      fuzz::Fail("the narrowed find differs from the full scan of a built name index");
  }
}

}  // namespace
}  // namespace quindelo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  if (size > 0 && data[0] == 'I') {
    CheckIndexFile(data + 1, size - 1);
    return 0;
  }
  IndexStore& store = FixedStore();
  NameIndex index;
  const bool decoded = index.Decode(data, size);
  if (decoded && index.Encode() != std::string(reinterpret_cast<const char*>(data), size))
    fuzz::Fail("an accepted file is not written back byte for byte");
  if (!decoded && !index.empty()) fuzz::Fail("a refused file leaves contents");

  static const std::string path = fuzz::ScratchFolder() + "/DriveT.tri";
  fuzz::WriteWholeFile(path, data, size);
  NameIndex loaded;
  if (loaded.Load(path) != decoded) fuzz::Fail("reading the file differs from decoding it");
  if (!decoded) return 0;

  NameIndex::Identity identity;
  if (!NameIndex::IdentityOf(store, &identity)) fuzz::Fail("the index has no identity");
  index.set_identity(identity);
  for (const char* text : {"report", "*.txt", "zeb*;dir_", "ab", "LETTER?1", "abc0;notes.md3"}) {
    PatternSet patterns;
    patterns.parse(text);
    std::vector<index_format::RecordId> ids;
    if (index.Candidates(patterns, &ids) && !std::is_sorted(ids.begin(), ids.end()))
      fuzz::Fail("candidates out of order");
    // A file that lies with a sound checksum can hide folders from the
    // find, never add a name to it; the index's own file hides nothing.
    const std::vector<std::string> narrowed = Found(store, &index, patterns);
    const std::vector<std::string> all = Found(store, nullptr, patterns);
    if (!std::includes(all.begin(), all.end(), narrowed.begin(), narrowed.end()))
      fuzz::Fail("the narrowed find gives a name the full scan does not");
    if (index.Encode() == BuiltFile() && narrowed != all)
      fuzz::Fail("the index's own file changes what the find gives");
  }

  // Updates with the index's own records keep the file readable.
  std::vector<std::uint8_t> record;
  for (index_format::RecordId id = 4; id < 8; ++id) {
    if (!store.ReadRecord(id, &record)) fuzz::Fail("cannot read a folder");
    index.UpdateFolder(id, record.data(), static_cast<std::uint32_t>(record.size()));
  }
  index.RemoveFolder(9);
  const std::string again = index.Encode();
  NameIndex reread;
  if (!reread.Decode(reinterpret_cast<const std::uint8_t*>(again.data()), again.size()))
    fuzz::Fail("an updated index does not read back");
  return 0;
}
