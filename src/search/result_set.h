// ResultSet: the rows of one find's answer. It owns the found-file records
// (the ResultsPool), the row vector in list order, the insertion of each new
// row at its sorted place, re-sorting, the row limit and the reselect row.
// The results list of the window is a thin model over it; the command-line
// finder reads it the same way.
//
// Insertion. A batch of found paths becomes records; those a keep filter
// refuses, and those past the row limit, are left out (the limit takes the
// rows in their order of arrival). With sorted insertion on, each row goes
// after every row that does not come after it in the sort order: equal rows
// keep their order of arrival, and since rows mostly arrive in order, the
// search for a row's place probes the last row first. With it off, rows are
// appended in their order of arrival. Add reports the row ranges it
// inserted, each in the final numbering of the list.
//
// Threads: none of its own. A result set belongs to one thread (the
// window's thread; for the command-line finder, the thread that delivers
// the index's messages) and every call is made there. Other threads hand it
// paths by value.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "search/found_file.h"

namespace quindelo {

// Rows first .. first + count - 1.
struct RowRange {
  int first = 0;
  int count = 0;
  bool operator==(const RowRange& other) const {
    return first == other.first && count == other.count;
  }
};

// Found paths of one hand-over in one buffer, one after the other.
class FoundPaths {
 public:
  void Add(std::string_view path) {
    bytes_.append(path);
    ends_.push_back(bytes_.size());
  }
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(begin, ends_[i] - begin);
  }
  void clear() {
    bytes_.clear();
    ends_.clear();
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;
};

class ResultSet {
 public:
  // Told before and after every change of the rows, so that a list model
  // can announce it (Qt's begin/end calls). Each insertion or removal is of
  // one contiguous run.
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void BeginInsertRows(int first, int count) = 0;
    virtual void EndInsertRows() = 0;
    virtual void BeginRemoveRows(int first, int count) = 0;
    virtual void EndRemoveRows() = 0;
    // Every row goes (Clear).
    virtual void BeginReset() = 0;
    virtual void EndReset() = 0;
    // The rows keep their records but change their order (Resort).
    virtual void BeginReorder() = 0;
    virtual void EndReorder() = 0;
  };

  // provider: type and icon source of the pool; null: the core's default.
  explicit ResultSet(const FileTypeProvider* provider = nullptr);
  ResultSet(const ResultSet&) = delete;
  ResultSet& operator=(const ResultSet&) = delete;

  // Not owned; null: nobody is told.
  void set_listener(Listener* listener) { listener_ = listener; }

  // The order new rows are placed in and Resort sorts by.
  void set_sort_order(SortOrder order) { order_ = order; }
  SortOrder sort_order() const { return order_; }
  // Rows are placed at their sorted place (default), or appended.
  void set_sorted_insert(bool on) { sorted_insert_ = on; }
  // The most rows the set takes; 0: no limit.
  void set_row_limit(int limit) { row_limit_ = limit < 0 ? 0 : limit; }
  int row_limit() const { return row_limit_; }
  // Whether the set holds as many rows as its limit allows.
  bool at_limit() const { return row_limit_ > 0 && row_count() >= row_limit_; }
  // A record the filter answers false for is not inserted (its pool space
  // stays until Clear). Empty: every record is kept.
  void set_keep_filter(std::function<bool(FoundFile*)> keep) { keep_ = std::move(keep); }

  // Makes records of paths (drive paths, C:\dir\name) and inserts them.
  // Returns the inserted ranges in ascending order. When the pool cannot
  // grow, the rows made so far are inserted and *out_of_memory is set.
  std::vector<RowRange> Add(const FoundPaths& paths, bool* out_of_memory = nullptr);
  std::vector<RowRange> Add(const std::vector<std::string>& paths, bool* out_of_memory = nullptr);

  // A record of this set's pool and the row it takes once the whole batch
  // is in (ascending; inserting them one by one in this order, each before
  // the row then at its position, gives the list).
  struct Placed {
    int position = 0;
    FoundFile* record = nullptr;
  };
  // Inserts records made by the caller from pool(), at the given places
  // (clamped to the list); with filter, those the keep filter refuses are
  // left out and the places after them move up. Returns the ranges.
  std::vector<RowRange> InsertPlaced(const std::vector<Placed>& rows, bool filter = true);

  // Every row and record goes; the pool is emptied.
  void Clear();

  // Sorts the rows by order (which becomes the sort order); equal rows keep
  // their relative order. Details the order needs are fetched.
  void Resort(SortOrder order);

  // Removes the rows of the given records. Returns how many were removed.
  int Remove(const std::unordered_set<const FoundFile*>& records);

  int row_count() const { return static_cast<int>(rows_.size()); }
  // Null when row is out of range.
  FoundFile* row(int row) const {
    return row >= 0 && row < row_count() ? rows_[static_cast<std::size_t>(row)] : nullptr;
  }
  const std::vector<FoundFile*>& rows() const { return rows_; }
  // Cleared each time the rows are all deleted, so that a record pointer
  // kept across a Clear is known stale.
  std::uint64_t generation() const { return generation_; }

  ResultsPool& pool() { return pool_; }

  // While set, rows show only name and folder: nothing is fetched for
  // drawing (the name phase of a find).
  void set_deferred_details(bool on) { deferred_details_ = on; }
  bool deferred_details() const { return deferred_details_; }

  // The row Refresh remembers to select again once its find has ended; -1
  // for none. TakeReselectRow clamps it to the last row (-1 when there are
  // none) and forgets it.
  void set_reselect_row(int row) { reselect_row_ = row; }
  int TakeReselectRow();

 private:
  // Places a sorted batch among the rows: each record's final position.
  std::vector<int> PlaceSorted(const std::vector<FoundFile*>& batch);

  ResultsPool pool_;
  CurrentFolder current_folder_;
  std::vector<FoundFile*> rows_;
  Listener* listener_ = nullptr;
  SortOrder order_;
  bool sorted_insert_ = true;
  int row_limit_ = 0;
  std::function<bool(FoundFile*)> keep_;
  bool deferred_details_ = false;
  int reselect_row_ = -1;
  std::uint64_t generation_ = 0;
};

}  // namespace quindelo
