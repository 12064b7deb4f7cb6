// IndexStore: the paged index file of one drive, seen as a store of
// variable-length records addressed by a record id (16 bits wide in a
// narrow file, 24 in a wide one; see index_format.h).
//
// The store knows nothing of folders or names (index_records.h does). It
// reads a record by id, writes a record (in place, grown in place, or moved
// to the end of the file), patches bytes inside a stored record, deletes a
// record, hands out fresh ids, walks all records in file order, checks the
// file after an unclean shutdown, and compacts the file by sliding live
// records down over freed space. The byte layout is in index_format.h.
//
// Thread-safety: none. The store does no locking; exactly one thread at a
// time may call any method (the drive index's phases guarantee this).
//
// Failure behaviour: no method throws or shows a message. The operations on
// the file as a whole (Open, Close, Flush, CheckpointIfOlderThan) return a
// platform::Status whose ToString() is "path: cause"; the record operations
// return true (or a nonzero id) on success and false (0) on failure, since
// their failures are either the record's own (no such id) or damage (the
// flag below) or the store's write failure (write_status()). Every
// inconsistency met in the file (an offset outside [192, end offset) or not
// a multiple of 8, a block that does not carry the expected id, an id beyond
// the table, a block shorter than its 8-byte header or reaching past the
// end offset, a broken or looping table-page chain) sets the damaged flag;
// the flag reaches the file with the next header write and makes every later
// Open of that file fail, so that the caller deletes and rebuilds it.
// A damaged file never makes the store loop, hang or allocate more than the
// file holds.
//
// A write that fails (a full disk, a size limit, an I/O error, a failed
// fsync or truncation) sets the damaged flag too, and its Status is kept as
// the store's write status for the caller to report; after it the store
// writes nothing more but the damaged flag.
//
// Files: every file operation goes through the Options' platform::FileSystem
// (the system's own unless a test puts a failing wrapper there), the index
// file and its undo file alike.
//
// Lifecycle: closed -> Open() -> open -> Close() -> closed. While open the
// file carries open flag 1 on disk; a clean Close() writes 0. The header and
// the record table in memory are the truth while open and reach the disk at
// Flush() and Close(). The destructor closes cleanly.
//
// Crash safety: every Flush() (and Close()) is a commit point. Between two
// commits, each write that would overwrite bytes below the end offset of
// the last commit first saves the old bytes in an undo file beside the index
// ("DriveC.idx.undo"); a commit empties it. When a process dies between
// commits (kill -9, a crash), the next Open puts the saved bytes back, in
// reverse order, and cuts the file at the committed end offset: the file is
// then exactly as it was at the last commit and passes the consistency
// check. Undo file: the 8 bytes kUndoMagic, then records of a 4-byte file
// offset, a 4-byte length and that many old bytes (little-endian); a record
// cut short by the crash is ignored (the write it guards never started).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "index/index_format.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace quindelo {

class IndexStore {
 public:
  // What a store is made with. Tests change these to reach, in milliseconds
  // and a few hundred records, what takes seconds and 61,440 records for
  // real.
  struct Options {
    // Where the files are read and written; null: FileSystem::Default().
    // Must outlive the store.
    platform::FileSystem* file_system = nullptr;
    // How long Open waits for another holder of the file.
    std::chrono::milliseconds lock_wait{5000};
    // AllocateId hands out no id at or above this in a narrow file: the
    // point where the index must move to the wide variant (the narrow table
    // length unless a test sets it lower).
    index_format::RecordId narrow_id_limit = index_format::kMaxTableLength;
  };

  // The options of stores made without any (as the drive index makes its
  // own), process-wide; thread-safe. A store keeps what it was made with.
  static Options DefaultOptions();
  static void SetDefaultOptions(const Options& options);

  IndexStore();  // with DefaultOptions()
  explicit IndexStore(const Options& options);
  ~IndexStore();
  IndexStore(const IndexStore&) = delete;
  IndexStore& operator=(const IndexStore&) = delete;

  // Closes any file held (as Close), then opens or creates the file at
  // native_path for exclusive reading and writing.
  // A new file gets a header and table page 0 (4296 bytes) and succeeds
  // unless it cannot be written (then it is deleted again).
  // An existing file is accepted only when its magic and version match, its
  // damaged flag is 0, its end offset equals its size rounded up to 8, its
  // table-page chain loads, and (when its open flag says it was not closed
  // cleanly) every block agrees with the table. A file that was not closed
  // cleanly is first brought back to its last commit (see Crash safety).
  // A refused file is left on disk and fails with
  // platform::kErrorUnusableFile. While another holder has the file open,
  // waits for it up to the lock wait, then fails with
  // platform::kErrorFileInUse. Any other failure is the file operation's.
  // A new file is created in the given variant; an existing file is opened
  // in the variant its version names.
  platform::Status Open(const std::string& native_path, const index_format::Layout& new_file_layout =
                                                 index_format::kNarrow);

  // The variant of the open file (narrow while closed).
  const index_format::Layout& layout() const { return *layout_; }
  bool wide() const { return layout_->wide; }

  // Grows the table so that it holds id (for copying records under their
  // ids into a new file). False when id lies beyond the variant's largest.
  bool ExtendTable(index_format::RecordId id);

  const Options& options() const { return options_; }
  // How long the next Open waits for another holder of the file.
  void set_lock_wait(std::chrono::milliseconds wait) { options_.lock_wait = wait; }

  // Writes the table and header back with open flag 0, truncates the file
  // at the end offset and closes it. Does nothing when closed. Fails with
  // the write status when a write failed, or kErrorUnusableFile when the
  // table could not be written (the file is closed all the same).
  platform::Status Close();

  // Writes the table if dirty and the header if dirty, commits (see Crash
  // safety), and truncates the file at the end offset. Callers flush only
  // where the records agree with each other. After a write failure it only
  // writes the damaged flag and fails with the write status.
  // REQUIRES: IsOpen() (fails with EBADF otherwise).
  platform::Status Flush();

  // A Flush with the file's data synced to disk (fsync), made only when the
  // last commit is at least min_age old; succeeds when nothing had to be
  // done. Long walks call it between folders, so that a kill costs at most
  // that much work.
  platform::Status CheckpointIfOlderThan(std::chrono::milliseconds min_age);

  // True once a write of this store failed since it was opened.
  bool write_failed() const { return write_failed_.load(); }
  // Counts the writes, patches and deletions of records since the store was
  // made (never reset, across files): a reader that noted it can tell that
  // nothing was changed since, which the file's header need not show (a
  // record rewritten in place keeps its size).
  std::uint64_t changes() const { return changes_; }
  // The ids of the records changed since changes() was `since`, as far as
  // the store still knows them (the last kMaxChangeLog changes since the
  // last ForgetChanges); false when it no longer does. Ids may repeat, and
  // an id may since have lost its record.
  bool ChangedSince(std::uint64_t since, std::vector<index_format::RecordId>* ids) const;
  // Starts the list of changed ids afresh from now.
  void ForgetChanges();
  static constexpr std::size_t kMaxChangeLog = 1 << 16;
  // The first write failure since the last Open (success when none), kept
  // after Close; its ToString() reads ".../DriveC.idx: No space left on
  // device". May be called from any thread.
  platform::Status write_status() const;
  // write_status().ToString(): empty when no write failed.
  std::string write_failure() const { return write_status().ToString(); }

  // Reads the whole block of record id (block header included) into
  // *buffer, which is resized to exactly the block's length.
  // Fails quietly for id 0. An id beyond the table, an id without a
  // record, an invalid table entry, a block with another id, kind 0, or a
  // length below 8 or past the end offset set the damaged flag and fail;
  // nothing is allocated beyond what the file holds.
  bool ReadRecord(index_format::RecordId id, std::vector<std::uint8_t>* buffer);

  // Stores the block in data, whose first 8 bytes are its block header
  // (length, record id, kind). Round8(length) bytes are written; when size
  // is below that, the rest is padded with zeros. REQUIRES: size >= length,
  // length >= 8, a nonzero kind other than 1 (table page) and a record id
  // below the table length that is not a table page's id (1, 2 and the
  // multiples of 1024); otherwise false is returned. The record is rewritten in
  // place when it keeps its size or shrinks, grows in place at the end of
  // the file or over directly following free blocks, and otherwise moves to
  // the end of the file leaving its old block free.
  bool WriteRecord(const std::uint8_t* data, std::size_t size);
  bool WriteRecord(const std::vector<std::uint8_t>& buffer) {
    return WriteRecord(buffer.data(), buffer.size());
  }

  // Overwrites count bytes at offset inside the stored block of record id,
  // without reading it. Fails quietly for id 0 or an id without a record;
  // an id beyond the table or an invalid entry sets the damaged flag.
  // Fails when offset + count would reach past the end offset.
  bool PatchRecord(index_format::RecordId id, std::uint32_t offset, const void* bytes,
                   std::uint32_t count);

  // Frees the record's block. Fails quietly for id 0 or an id without a
  // record; an id beyond the table, an invalid entry or a block that does
  // not carry the id sets the damaged flag and fails.
  bool DeleteRecord(index_format::RecordId id);

  // Returns a fresh record id that no record holds (from 4 up, multiples of
  // 1024 skipped), growing the table by a page when needed, or 0 when every
  // id of the variant is taken (up to 61439 in a narrow file, or below the
  // options' narrow_id_limit). Running out of ids is not damage: the damaged
  // flag stays as it was. The id is not reserved until a record is written.
  index_format::RecordId AllocateId();

  // Sequential scan of every record of kind 2 or more in file order, the
  // file read in pieces of 64 KiB (or of a record's length when that is
  // more). NextRecordInPlace points *data at the next whole block (header
  // included, *length bytes) inside the store's own buffer, valid until the
  // next scan step, BeginScan or write (ReadRecord leaves it alone), and
  // returns true; it returns false at the end or on damage (damaged flag
  // set), freeing the buffer. A write during a scan empties the buffer, so
  // the scan goes on reading what was written. NextRecord copies the block
  // into *buffer instead.
  void BeginScan();
  bool NextRecordInPlace(const std::uint8_t** data, std::uint32_t* length);
  bool NextRecord(std::vector<std::uint8_t>* buffer);

  // Incremental compaction: when the end offset is at least 16384 and less
  // than 75% of the file is live, slides live blocks down over free space,
  // calling stop_test before each block; a nonzero result stops the pass,
  // leaving one free block over the gap, and the next call resumes after the
  // last block moved. Returns the last stop_test result (0 when it ran to
  // the end or had nothing to do). stop_test may be empty (never stops).
  int Compact(const std::function<int()>& stop_test);
  // The same with a plain function and argument.
  int Compact(int (*stop_test)(void*), void* argument);

  // Turns the read window on for ReadRecord too (it stays on until the next
  // write), so that a walk that reads records in about file order reads the
  // file in 8192-byte pieces instead of two reads per record.
  void UseReadWindow();

  // Sets the damaged flag (for callers that find a record inconsistent).
  void MarkDamaged();

  bool IsOpen() const { return file_ != nullptr; }
  // Native path of the open file (empty while closed).
  const std::string& path() const { return path_; }
  // True when the file did not exist when this store opened it.
  bool is_new_file() const { return new_file_; }

  // Read-only state, mostly for tests and the drive index.
  std::uint32_t end_offset() const;
  std::int32_t live_bytes() const;
  bool is_damaged() const;
  std::uint32_t table_length() const { return static_cast<std::uint32_t>(table_.size()); }
  // Table entry for id (0 when id is beyond the table).
  std::uint32_t table_entry(std::uint32_t id) const {
    return id < table_.size() ? table_[id] : 0;
  }
  index_format::RecordId compaction_resume_id() const { return compaction_resume_id_; }
  index_format::RecordId next_id_hint() const { return next_id_hint_; }

 private:
  using BlockHeader = index_format::BlockHeader;

  // Header image fields.
  void set_end_offset(std::uint32_t v);
  void set_live_bytes(std::int32_t v);
  void set_open_flag(std::uint16_t v);
  std::uint16_t open_flag() const;

  bool IsValidOffset(std::uint32_t offset) const;
  // Table entry of id when it is a valid offset; sets *damaged_entry when the
  // id is beyond the table or its entry is nonzero but invalid.
  std::uint32_t ValidEntry(index_format::RecordId id, bool* damaged_entry) const;

  // File access. Reads go through the window while window mode is on.
  // ReadExactly fails with kErrorShortTransfer when the file ends first.
  static platform::Status ReadExactly(platform::LockedFile& file, std::uint64_t offset,
                                      void* buffer, std::size_t count);
  bool ReadBytes(std::uint32_t offset, void* buffer, std::size_t count);
  bool WriteBytes(std::uint32_t offset, const void* buffer, std::size_t count);
  bool ReadWindowed(std::uint32_t offset, std::uint8_t* out, std::size_t count);
  bool ReadBlockHeader(std::uint32_t offset, BlockHeader* header);
  bool WriteBlockHeader(std::uint32_t offset, const BlockHeader& header);
  // True when a block of this length at offset fits the file's block rules.
  bool BlockFits(std::uint32_t offset, std::uint32_t length) const;

  bool WriteHeader();
  bool WriteTable();
  // Changes a table entry and marks its page for the next table write.
  void SetEntry(index_format::RecordId id, std::uint32_t value);
  // Keeps cause as the write status (the first one counts), sets the
  // damaged flag and returns false.
  bool FailWrite(const platform::Status& cause);
  // The write status, or kErrorUnusableFile when no write failed (the store
  // refused to write a damaged table).
  platform::Status FailureCause() const;
  // Saves the bytes that a write of count bytes at offset will overwrite,
  // when they lie below the committed end offset.
  platform::Status SaveForUndo(std::uint32_t offset, std::size_t count);
  // Puts back what the undo file saved; fails when a file operation failed.
  platform::Status RollBack();
  // Lets go of both files (no writes).
  void CloseFiles();
  // Empties the undo file: the file as it is now is the one to come back to.
  bool Commit(bool sync);
  // Writes the table if dirty and the header (if dirty, or always), commits
  // (with the data synced to disk when sync is set) and truncates the file.
  bool FlushAndCommit(bool sync, bool header_always);
  // After a write failure: the damaged flag alone is written to the header,
  // and the undo file is emptied so that it does not take the flag back.
  void WriteDamagedFlag();
  bool LoadTable();
  bool CheckConsistency();
  bool Truncate();
  void ResetState();

  Options options_;
  std::unique_ptr<platform::LockedFile> file_;
  std::unique_ptr<platform::LockedFile> undo_;
  std::string path_;
  std::uint64_t undo_size_ = 0;        // bytes in the undo file
  std::uint32_t committed_end_ = 0;    // end offset at the last commit
  bool header_saved_ = false;          // the header is in the undo file since the last commit
  std::chrono::steady_clock::time_point last_commit_{};
  std::atomic<bool> write_failed_{false};
  std::uint64_t changes_ = 0;  // see changes()
  void NoteChange(index_format::RecordId id);
  std::vector<index_format::RecordId> change_log_;      // ids of the changes from change_log_base_ on
  std::uint64_t change_log_base_ = 0;
  bool change_log_full_ = false;
  mutable platform::Mutex failure_lock_;
  platform::Status write_status_ GUARDED_BY(failure_lock_);
  std::array<std::uint8_t, index_format::kHeaderSize> header_{};
  std::vector<std::uint32_t> table_;
  bool header_dirty_ = false;
  bool table_dirty_ = false;
  std::vector<std::uint8_t> dirty_pages_;  // one flag a page: entries changed since written
  const index_format::Layout* layout_ = &index_format::kNarrow;
  index_format::RecordId next_id_hint_ = index_format::kFirstFreshId;
  std::uint32_t scan_cursor_ = 0;
  index_format::RecordId compaction_resume_id_ = 0;
  bool new_file_ = false;

  bool window_mode_ = false;
  std::vector<std::uint8_t> window_;
  std::uint32_t window_offset_ = 0;
  std::uint32_t window_position_ = 0;
  std::uint32_t window_count_ = 0;

  // The piece of the file that NextRecordInPlace reads from: scan_piece_
  // holds bytes [scan_piece_offset_, + scan_piece_count_). ScanBytes returns
  // bytes [offset, offset + count) of the file from it, reading a new piece
  // from offset when needed, or null when they cannot be read.
  const std::uint8_t* ScanBytes(std::uint32_t offset, std::uint32_t count);
  std::vector<std::uint8_t> scan_piece_;
  std::uint32_t scan_piece_offset_ = 0;
  std::uint32_t scan_piece_count_ = 0;
};

}  // namespace quindelo
