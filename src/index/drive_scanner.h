// DriveScanner: the walk that builds a drive's index and keeps it current.
//
// It walks the folder tree depth first from the root, lists a folder only
// when its stamp (its last-write time folded to 32 bits) differs from the
// one stored with its folder record, merges the sorted listing into the
// record's sorted entry list, creates records for new folders and deletes
// the subtrees of vanished ones, and hands every new name to its host. It
// knows nothing of the find under way (which names match, which folders
// belong to it) nor of file contents.
//
// It meets the index it keeps current only through a ScanHost: the store,
// where the drive lies, where each folder lies for the find, the new names,
// and the answers to "may I go on?". DriveIndex is the host of the refresh thread;
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
struct FolderEntry;

// Where a folder lies for the find under way, as the host sees it.
struct FolderScope {
  bool in_scope = true;  // the find looks in it (a look-in folder or below)
  bool above = false;    // it lies above a look-in folder
};

// What the host answers to a new name: go on, or give up the walk (the host
// takes no more names: it is shutting down).
enum class ScanAnswer { kGoOn, kStop };

// What a walk needs of the index it keeps current. Every call comes from the
// walk's thread. The answers about the find under way (ScopeOf, relisting,
// and what NewName does with a name) may change while the walk is paused
// inside MayContinue; the walk asks again after each pause. The store and
// the drive's root (drive_root_text, native_root, root_device) stay the
// same for the whole walk.
class ScanHost {
 public:
  // The open store the walk reads and writes; no other thread uses it while
  // the walk runs.
  virtual IndexStore& store() = 0;

  // Where the folder at drive path folder ("C:\" or "C:\a\b\") lies for the
  // find: a walk of the look-in folders only walks the folders in scope and
  // those above them, and a relisting lists them whatever their stamps.
  virtual FolderScope ScopeOf(std::string_view folder) const = 0;

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
  // A name new in the folder at drive path folder ("C:\a\b\"): the host
  // reports it when the find under way wants it. kStop when the host takes
  // no more names: the walk gives up.
  virtual ScanAnswer NewName(std::string_view folder, std::string_view name) = 0;
  // True when every name of the folder at drive path folder that the find
  // wants is to be handed to NewName when the folder is listed next, the
  // names it already held included (the find has not reported them: it
  // left the folder to its listing). Asked once per listing.
  virtual bool ReportsKeptNames(std::string_view folder) {
    (void)folder;
    return false;
  }
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

  // How a walk ended.
  enum class WalkResult {
    kCompleted,  // every folder was walked
    kStopped,    // the host's answer was to give up
    // A narrow index has no record id left for a new folder: the walk ended
    // there with the index sound, and goes on from there once the index is
    // wide.
    kOutOfIds,
  };

  // Walks from the root folder record. With look_in_only, only the folders
  // in the find's scope and the folders above them are walked.
  WalkResult WalkRoot(index_format::RecordId root_id, bool look_in_only);

  // What a walk of one folder known to have changed covers.
  enum class Target {
    // The folder is listed, whatever its stamp, and so is every folder that
    // listing newly finds in it, with its subtree; its other subfolders are
    // left alone.
    kFolder,
    // The folder and its whole subtree are listed, whatever their stamps.
    kTree,
    // The folder and its subtree are walked by their stamps.
    kStamps,
  };
  // Walks the folder at rel ("a/b/", below the root; "" is the root) as
  // target says, reaching its record from the root record by the names of
  // its path. A folder the index does not hold (yet) is not walked: the
  // listing of the folder above it finds it.
  WalkResult WalkFolder(index_format::RecordId root_id, const std::string& rel, Target target);

 private:
  struct ListingEntry {
    std::string_view name;
    bool is_folder;
  };
  // What a visit of one folder leaves the walk to do.
  enum class Visit { kDescend, kSkip, kStopped };
  // What the listing of a folder gave.
  enum class Listing { kListed, kUnreadable, kStopped };
  // How a merge ended.
  enum class Merged { kDone, kStopped };
  // A folder on the walk's way down: its record copy and the offset of its
  // next entry, with the lengths of its drive and native paths.
  struct Frame {
    index_format::RecordId id = 0;
    std::vector<std::uint8_t> rec;
    std::uint32_t next = 0;
    std::size_t drive_length = 0;
    std::size_t native_length = 0;
    bool force = false;       // its subfolders are listed whatever their stamps
    bool only_new = false;    // only subfolders without a record yet are entered
  };

  // Reads, checks, lists and merges the folder at the current paths, which
  // the entry name of folder parent_id leads to (the root: parent 0 and an
  // empty name). *rec receives the record copy to descend through.
  // With force it is listed whatever its stamp.
  Visit VisitFolder(index_format::RecordId parent_id, std::string_view name,
                    index_format::RecordId folder_id, std::size_t depth, bool look_in_only,
                    bool force, std::vector<std::uint8_t>* rec);
  // Walks below the folders on stack (its last frame entered), depth first.
  WalkResult Descend(std::vector<Frame>* stack, bool look_in_only);
  // Sets up a frame for descending through its record copy.
  void Enter(Frame* frame);
  // Starts the paths at the drive's root.
  void StartPaths();
  // Parses the entry at pos of a record copy; false at the terminator or
  // when the list is damaged.
  bool EntryAt(const std::vector<std::uint8_t>& rec, std::uint32_t pos,
               FolderEntry* entry) const;
  Listing List(std::vector<ListingEntry>* listing, class StringPool* pool);
  Merged Merge(const std::vector<ListingEntry>& listing, std::vector<std::uint8_t>* rec,
               bool* dirty);
  bool RemoveRange(std::vector<std::uint8_t>* rec, std::uint32_t from, std::uint32_t to);
  void WriteRecord(std::vector<std::uint8_t>* rec, bool* dirty);

  ScanHost* host_;
  IndexStore& store_;  // the host's, for the whole walk
  // The current folder: its drive path ("C:\a\b\") and native path
  // ("/a/b/"), extended for each subfolder and cut back afterwards.
  std::string drive_path_;
  std::string native_path_;
  bool ids_left_ = true;  // false once no record id was left in this pass
  bool report_kept_ = false;  // the folder being merged reports its kept names too
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
