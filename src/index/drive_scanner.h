// DriveScanner: the walk that builds a drive's index and keeps it current.
//
// It walks the folder tree depth first from the root, lists a folder only
// when its stamp (its last-write time folded to 32 bits) differs from the
// one stored with its folder record, merges the sorted listing into the
// record's sorted entry list, creates records for new folders and deletes
// the subtrees of vanished ones, and reports new names that match the
// current find. It knows nothing of file contents.
//
// It meets the index it keeps current only through a ScanHost: the store,
// the find under way (scope and patterns), where the drive lies, and the
// answers to "may I go on?". DriveIndex is the host of the refresh thread;
// a test may be another. The walk runs on one thread as the only user of the
// store. It asks the host whether it may go on before the first and after
// every tenth entry of a listing or merge and before every subfolder; when
// the answer is no it unwinds without writing anything more, having written
// every removal at once and every insertion when its folder's merge ended.
//
// The walk keeps its way down on a stack of its own, not the call stack, so
// a tree thousands of folders deep walks. It trusts no child link: a folder
// record that does not name the folder and the entry leading to it, or whose
// entry list is broken or out of order, is damage (the index is rebuilt at
// its next open) and is neither merged nor descended into.
//
// A folder that cannot be listed (no permission) keeps its entries and
// gets stamp 0, so that every later walk tries to list it again.
//
// On Linux: links are entries, never followed; each folder is reached from
// its parent by name without following a link (platform::FolderWalk), so a
// folder swapped for a link during the walk is neither listed nor entered;
// folders on another file system than the drive's root keep their entry but
// are not descended into;
// names with a backslash do not appear (the enumeration leaves them out);
// a file name of 255 bytes cannot be stored and is left out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"
#include "platform/folder.h"

namespace quindelo {

class IndexStore;
class PatternSet;
struct FolderEntry;

// What a walk needs of the index it keeps current. Every call comes from the
// walk's thread. The answers about the find under way (look_in,
// include_subfolders, patterns, relisting) may change while the walk is
// paused inside MayContinue; the walk asks again after each pause. The
// store and the drive's root (drive_root_text, native_root, root_device)
// stay the same for the whole walk.
class ScanHost {
 public:
  // The open store the walk reads and writes; no other thread uses it while
  // the walk runs.
  virtual IndexStore& store() = 0;

  // The look-in folders of the find ("\a\b", no drive letter, no trailing
  // backslash; empty: the whole drive) and whether their subfolders belong
  // to it. New names are reported only from folders in that scope.
  virtual const std::vector<std::string>& look_in() const = 0;
  virtual bool include_subfolders() const = 0;
  // The named patterns that a new name must match to be reported.
  virtual const PatternSet& patterns() const = 0;

  // The drive as the finder names it ("C:"), its root folder ("/" or
  // "/media/x") and the file system the root lies on (folders on another
  // are not descended into).
  virtual const std::string& drive_root_text() const = 0;
  virtual const std::string& native_root() const = 0;
  virtual std::uint64_t root_device() const = 0;
  // True while folders in scope (and those above the look-in folders) are
  // listed whatever their stamps say.
  virtual bool relisting() const = 0;

  // The walk's question: go on (true) or give up (false: the walk unwinds
  // and writes nothing more). An answer may wait while the walk is paused;
  // before the pause, before_pause (when given) runs, while the walk still
  // owns the store.
  virtual bool MayContinue(const std::function<void()>& before_pause) = 0;
  // A new name in scope that matches the patterns, as a drive path
  // ("C:\a\b\name"). False when the host takes no more names (it is
  // shutting down): the name is not reported and the walk gives up.
  virtual bool ReportResult(const std::string& path) = 0;
  // Progress: the folder (a drive path ending in a backslash) being listed.
  virtual void PostProgress(const std::string& folder) = 0;
  // The count of folders listed from the disk: one more listed, and the
  // count so far (the walk commits the store more often while it lists).
  virtual void CountFolderListed() = 0;
  virtual std::uint64_t folders_listed() const = 0;
  // A wide store has no record id left for a new folder: the folders beyond
  // it are not listed in this walk.
  virtual void NoteIdsExhausted() = 0;

  virtual ~ScanHost() = default;
};

class DriveScanner {
 public:
  // host must outlive the scanner.
  explicit DriveScanner(ScanHost* host);

  // What WalkRoot returns when a narrow index has no record id left for a
  // new folder: the walk ended there with the index sound, and goes on from
  // there once the index is wide.
  static constexpr int kOutOfIds = 1;

  // Walks from the root folder record. With look_in_only, only the look-in
  // folders (and what lies below them) and the folders above them are
  // walked. Returns 0 when the walk completed, -1 when it was stopped, or
  // kOutOfIds.
  int WalkRoot(index_format::RecordId root_id, bool look_in_only);

 private:
  struct ListingEntry {
    std::string_view name;
    bool is_folder;
  };
  // What a visit of one folder leaves the walk to do.
  enum class Visit { kDescend, kSkip, kStopped };
  // What the listing of a folder gave.
  enum class Listing { kListed, kUnreadable, kStopped };
  // A folder on the walk's way down: its record copy and the offset of its
  // next entry, with the lengths of its drive and native paths.
  struct Frame {
    index_format::RecordId id = 0;
    std::vector<std::uint8_t> rec;
    std::uint32_t next = 0;
    std::size_t drive_length = 0;
    std::size_t native_length = 0;
  };

  // Reads, checks, lists and merges the folder at the current paths, which
  // the entry name of folder parent_id leads to (the root: parent 0 and an
  // empty name). *rec receives the record copy to descend through.
  Visit VisitFolder(index_format::RecordId parent_id, std::string_view name,
                    index_format::RecordId folder_id, std::size_t depth, bool look_in_only,
                    std::vector<std::uint8_t>* rec);
  // Parses the entry at pos of a record copy; false at the terminator or
  // when the list is damaged.
  bool EntryAt(const std::vector<std::uint8_t>& rec, std::uint32_t pos,
               FolderEntry* entry) const;
  void Scope(bool* in_scope, bool* ancestor) const;
  Listing List(std::vector<ListingEntry>* listing, class StringPool* pool);
  int Merge(const std::vector<ListingEntry>& listing, std::vector<std::uint8_t>* rec, bool* dirty);
  bool RemoveRange(std::vector<std::uint8_t>* rec, std::uint32_t from, std::uint32_t to);
  void WriteRecord(std::vector<std::uint8_t>* rec, bool* dirty);
  void ReportNew(std::string_view name, int* result);

  ScanHost* host_;
  IndexStore& store_;  // the host's, for the whole walk
  // The current folder: its drive path ("C:\a\b\") and native path
  // ("/a/b/"), extended for each subfolder and cut back afterwards.
  std::string drive_path_;
  std::string native_path_;
  bool ids_left_ = true;  // false once no record id was left in this pass
  // Record copies of folders the walk has left, kept for the next folders
  // so that a walk does not allocate a buffer per folder.
  std::vector<std::vector<std::uint8_t>> spare_records_;
  platform::FolderWalk walk_;  // the status and the listing of each folder walked
  // When the store's checkpoint was last asked for: the folders listed by
  // then, and the folders visited since.
  std::uint64_t listed_at_checkpoint_test_ = 0;
  unsigned unchanged_since_checkpoint_test_ = 0;
};

}  // namespace quindelo
