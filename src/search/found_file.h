// Found files: the record behind each row of the results list, the pool that
// holds the records of one result set, the fetching of a record's details
// from the file system, and the one ordering of rows.
//
// A FoundFile is carved from a ResultsPool and lives until the pool is
// cleared; it is never freed on its own. Records are created with nothing
// fetched (icon, type, size and date); FetchFileDetails fills one part at a
// time, once, when something needs it: a drawn cell or a comparison by type,
// size or date.
//
// Thread-safety: carving from a ResultsPool takes the pool's lock, so records
// may be created on one thread (the index's notify thread) while another
// thread carves type texts. FetchFileDetails and CompareFoundFiles write to
// the records they are given and must not run on one record from two threads
// at once; they belong to the user-interface thread. Clear() requires that no
// other thread uses the pool or any of its records.
//
// Failure: when the pool cannot take a new chunk, the allocation's exception
// passes on with the pool's lock already released: std::bad_alloc, or the
// raised "Out of memory" (OutOfMemoryError, message_report.h) once the
// out-of-memory handler is installed. Nothing else here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/string_pool.h"

namespace quindelo {

// Longest path text handed out (a 260-byte buffer with its NUL).
inline constexpr std::size_t kMaxFoundPathLength = 259;

// One row of the results list. Fields are ordered for packing; the name is
// stored inline, right after the record, NUL-terminated.
struct FoundFile {
  static constexpr std::int32_t kIconNotFetched = -1;
  static constexpr std::uint32_t kSizeNotFetched = 0xFFFFFFFFu;

  // Type text in the ResultsPool or the shared empty text; null = not fetched.
  const char* type;
  // Last-write time, 100 ns units since 1601 UTC; valid once size is fetched.
  std::uint64_t last_write;
  // Folder text, shared by the records of one folder: the path without its
  // last backslash and name, at least three characters ("C:\" for the root).
  const char* folder;
  // Index into the window side's small image list; kIconNotFetched = not yet.
  std::int32_t icon;
  // Low 32 bits of the size in bytes; kSizeNotFetched = size and date not yet.
  std::uint32_t size;

  // The name after the last backslash.
  const char* name() const { return reinterpret_cast<const char*>(this + 1); }
  char* mutable_name() { return reinterpret_cast<char*>(this + 1); }

  bool type_fetched() const { return type != nullptr; }
  bool size_fetched() const { return size != kSizeNotFetched; }
  bool icon_fetched() const { return icon != kIconNotFetched; }
};

// The one shared empty type text.
extern const char kEmptyTypeText[];

// Where the type and icon of a file come from. The window side supplies one
// that asks the desktop (MIME database, icon theme); the core's default is
// DefaultFileTypeProvider(). Implementations are called on the thread that
// fetches details and must not throw.
class FileTypeProvider {
 public:
  virtual ~FileTypeProvider() = default;

  // Sets *icon to the file's small icon index. False when there is none
  // (the record's icon then becomes 0).
  virtual bool IconIndex(const std::string& native_path, std::int32_t* icon) const = 0;

  // Sets *type to the desktop's own type name of the file. False when the
  // desktop cannot name it.
  virtual bool TypeName(const std::string& native_path, std::string* type) const = 0;

  // The fallback for a file the desktop cannot name: sets *description to
  // the description of the class registered for extension (from the last
  // dot of the name, dot included, at most 127 characters). False when no
  // class or no description is registered.
  virtual bool ExtensionClassDescription(const std::string& extension,
                                         std::string* description) const = 0;
};

// The core's provider, with no desktop to ask: no icons (icon 0); a name with
// an extension is typed the way a desktop types an unregistered extension,
// its letters in capitals followed by " File" ("a.txt" is "TXT File"); a name
// without an extension (or ending in a dot) cannot be named, and there is no
// class registry, so its type is the empty text. Stateless and thread-safe.
const FileTypeProvider& DefaultFileTypeProvider();

// The folder text of the last found file, kept by the search driver so that
// consecutive files of one folder share one folder text. A value that
// outlived a Clear() of its pool is detected and never shared.
struct CurrentFolder {
  const char* text = nullptr;
  std::size_t length = 0;
  std::uint64_t generation = 0;

  void Forget() { *this = CurrentFolder(); }
};

// The pool of one result set: FoundFile records, folder texts and type
// texts, carved under the pool's lock and freed all at once.
class ResultsPool : public StringPool {
 public:
  // provider may be null for DefaultFileTypeProvider(); it is not owned and
  // must outlive the pool.
  explicit ResultsPool(const FileTypeProvider* provider = nullptr);

  // REQUIRES: no fetch runs at the same time; provider outlives the pool.
  void set_type_provider(const FileTypeProvider* provider);
  const FileTypeProvider& type_provider() const { return *provider_; }

  // Creates the record of a found path (a drive path such as C:\dir\name)
  // with nothing fetched. Its folder text is current->text when the path's
  // folder has the same bytes (and current belongs to this pool's present
  // contents); otherwise the folder text is copied into the pool and becomes
  // *current. A path without a backslash is taken as a name in the folder of
  // its first three characters at most.
  FoundFile* AddFoundFile(std::string_view full_path, CurrentFolder* current);

  // Frees every record and text at once; every CurrentFolder taken from the
  // pool becomes stale. Always call this through ResultsPool, never through
  // a StringPool reference.
  void Clear();

 private:
  const FileTypeProvider* provider_;
  std::uint64_t generation_ = 1;
};

// The folder text length of a found path: the position of its last
// backslash, but at least three characters (never more than the path).
std::size_t FolderTextLength(std::string_view full_path);

// The record's full path: its folder text, a backslash unless the folder text
// ends with one, and the name, cut to kMaxFoundPathLength characters.
std::string FullPath(const FoundFile& record);
// The same, never cut: for file system calls and for callers without the
// 259-character limit (a cut path could name another file).
std::string UncutPath(const FoundFile& record);

enum class FileDetail { kIcon, kType, kSizeAndDate };

// Fills one part of the record from the file system when it is not fetched
// yet; does nothing otherwise. Size and date come from the entry itself (a
// link is not followed); a file that is not found, or a path whose drive is
// unknown, gets size 0 and last-write time 0.
void FetchFileDetails(FoundFile* record, FileDetail what, ResultsPool* pool);

// FetchFileDetails in two steps, for a caller that looks details up on a
// thread of its own: LookUpFileDetail asks the file system and the type
// provider and touches no record and no pool, so it may run on any thread
// (the provider's calls must be thread-safe, as FileTypes' are);
// StoreFileDetail puts what was found into the record, on the thread that
// owns the record, unless that part was fetched meanwhile. Only kType and
// kSizeAndDate.
struct FileDetailLookup {
  FileDetail what = FileDetail::kSizeAndDate;
  std::string type;  // kType: the type text; empty for the empty text
  std::uint32_t size = 0;
  std::uint64_t last_write = 0;
};
// uncut_path is the record's UncutPath, name its name().
FileDetailLookup LookUpFileDetail(const std::string& uncut_path, const std::string& name,
                                  FileDetail what, const FileTypeProvider& provider);
void StoreFileDetail(FoundFile* record, const FileDetailLookup& found, ResultsPool* pool);

// The sort keys of the view options, by their stored values.
enum class SortKey : std::int32_t { kName = 0, kFolder = 1, kType = 2, kSize = 3, kDate = 4 };

struct SortOrder {
  SortKey key = SortKey::kName;
  bool descending = false;
};

// The order of two records: negative when a comes first, zero when they
// tie, positive when b comes first. Type, size and date fetch what they need
// (through pool). Ties under the key fall back to the name (key Name only),
// then the folder, then the name; dates compare by their upper 32 bits only.
// Descending negates the whole result, tie-breaks included. Size and date
// compare as unsigned numbers and the result is -1, 0 or 1, so that the order
// is total for any sizes and times.
int CompareFoundFiles(FoundFile* a, FoundFile* b, SortOrder order, ResultsPool* pool);

// The row at which a new record goes among row_count sorted rows: a binary
// search whose first probe is the last row and whose later probes are
// (low + high) / 2; compare_with_row(row) is CompareFoundFiles(new, row's
// record). A result of zero or more moves past the probe, so equal records
// keep their order of arrival, and records arriving in sorted order cost one
// comparison each. keep_going() is asked before every probe; when it answers
// false the search gives up and returns false.
template <typename CompareWithRow, typename KeepGoing>
bool FindInsertRow(std::size_t row_count, CompareWithRow&& compare_with_row,
                   KeepGoing&& keep_going, std::size_t* row) {
  std::size_t low = 0;
  std::size_t high_plus_one = row_count;  // high + 1, so that high may be -1
  bool first = true;
  while (low < high_plus_one) {
    if (!keep_going()) return false;
    std::size_t probe = first ? high_plus_one - 1 : low + (high_plus_one - 1 - low) / 2;
    first = false;
    if (compare_with_row(probe) >= 0)
      low = probe + 1;
    else
      high_plus_one = probe;
  }
  *row = low;
  return true;
}

}  // namespace quindelo
