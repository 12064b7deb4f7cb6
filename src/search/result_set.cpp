#include "search/result_set.h"

#include <algorithm>
#include <new>

namespace quindelo {

ResultSet::ResultSet(const FileTypeProvider* provider) : pool_(provider) {}

std::vector<int> ResultSet::PlaceSorted(const std::vector<FoundFile*>& batch) {
  // Each row goes after every row of the list that does not come after it
  // (those arrived earlier). The batch is sorted, so each search starts
  // where the one before it ended.
  std::vector<int> positions;
  positions.reserve(batch.size());
  const std::size_t count = rows_.size();
  std::size_t base = 0;
  for (FoundFile* record : batch) {
    std::size_t at = 0;
    FindInsertRow(
        count - base,
        [&](std::size_t probe) {
          return CompareFoundFiles(record, rows_[base + probe], order_, &pool_);
        },
        [] { return true; }, &at);
    base += at;
    positions.push_back(static_cast<int>(base + positions.size()));
  }
  return positions;
}

std::vector<RowRange> ResultSet::Add(const std::vector<std::string>& paths, bool* out_of_memory) {
  FoundPaths batch;
  for (const std::string& path : paths) batch.Add(path);
  return Add(batch, out_of_memory);
}

std::vector<RowRange> ResultSet::Add(const FoundPaths& paths, bool* out_of_memory) {
  if (out_of_memory) *out_of_memory = false;
  // Without sorting, rows keep their order of arrival: the filter goes
  // first and the limit counts the rows it kept. With sorting, the limit
  // takes the first arrivals and the filter runs once the comparisons of
  // the placing have fetched what it may look at.
  const int room = row_limit_ > 0 ? std::max(0, row_limit_ - row_count()) : -1;
  std::vector<FoundFile*> batch;
  batch.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (room >= 0 && static_cast<int>(batch.size()) >= room) break;
    FoundFile* record = nullptr;
    try {
      record = pool_.AddFoundFile(paths[i], &current_folder_);
    } catch (const std::bad_alloc&) {
      if (out_of_memory) *out_of_memory = true;
      break;
    }
    if (!sorted_insert_ && keep_ && !keep_(record)) continue;
    batch.push_back(record);
  }
  if (batch.empty()) return {};

  std::vector<Placed> placed;
  placed.reserve(batch.size());
  if (sorted_insert_) {
    auto before = [&](FoundFile* a, FoundFile* b) {
      return CompareFoundFiles(a, b, order_, &pool_) < 0;
    };
    // The batch in list order, equal rows in their order of arrival. Rows
    // mostly arrive in order: the sorted run they start with is merged with
    // the rest, sorted on its own.
    const auto rest = std::is_sorted_until(batch.begin(), batch.end(), before);
    std::stable_sort(rest, batch.end(), before);
    std::inplace_merge(batch.begin(), rest, batch.end(), before);
    const std::vector<int> positions = PlaceSorted(batch);
    for (std::size_t i = 0; i < batch.size(); ++i) placed.push_back({positions[i], batch[i]});
  } else {
    for (FoundFile* record : batch) placed.push_back({row_count() + static_cast<int>(placed.size()), record});
  }
  return InsertPlaced(placed, sorted_insert_);
}

std::vector<RowRange> ResultSet::InsertPlaced(const std::vector<Placed>& given, bool filter) {
  // Rows the filter refuses are left out; the positions after each move up.
  std::vector<Placed> rows;
  rows.reserve(given.size());
  int left_out = 0;
  for (const Placed& row : given) {
    if (!row.record || (filter && keep_ && !keep_(row.record))) {
      ++left_out;
      continue;
    }
    rows.push_back({std::clamp(row.position - left_out, 0, row_count() + static_cast<int>(rows.size())),
                    row.record});
  }
  // Each run of consecutive positions is one insertion.
  std::vector<RowRange> ranges;
  std::size_t i = 0;
  while (i < rows.size()) {
    std::size_t j = i + 1;
    while (j < rows.size() && rows[j].position == rows[j - 1].position + 1) ++j;
    const int count = static_cast<int>(j - i);
    const int first = rows[i].position;
    if (listener_) listener_->BeginInsertRows(first, count);
    std::vector<FoundFile*> run;
    run.reserve(j - i);
    for (std::size_t k = i; k < j; ++k) run.push_back(rows[k].record);
    rows_.insert(rows_.begin() + first, run.begin(), run.end());
    if (listener_) listener_->EndInsertRows();
    if (!ranges.empty() && ranges.back().first + ranges.back().count == first)
      ranges.back().count += count;
    else
      ranges.push_back({first, count});
    i = j;
  }
  return ranges;
}

void ResultSet::Clear() {
  if (listener_) listener_->BeginReset();
  rows_.clear();
  pool_.Clear();
  current_folder_.Forget();
  ++generation_;
  if (listener_) listener_->EndReset();
}

void ResultSet::Resort(SortOrder order) {
  order_ = order;
  if (listener_) listener_->BeginReorder();
  std::stable_sort(rows_.begin(), rows_.end(), [&](FoundFile* a, FoundFile* b) {
    return CompareFoundFiles(a, b, order_, &pool_) < 0;
  });
  if (listener_) listener_->EndReorder();
}

int ResultSet::Remove(const std::unordered_set<const FoundFile*>& records) {
  int removed = 0;
  // From the end, so that the rows before each run keep their numbers.
  int row = row_count() - 1;
  while (row >= 0) {
    if (!records.count(rows_[static_cast<std::size_t>(row)])) {
      --row;
      continue;
    }
    int first = row;
    while (first > 0 && records.count(rows_[static_cast<std::size_t>(first - 1)])) --first;
    const int count = row - first + 1;
    if (listener_) listener_->BeginRemoveRows(first, count);
    rows_.erase(rows_.begin() + first, rows_.begin() + row + 1);
    if (listener_) listener_->EndRemoveRows();
    removed += count;
    row = first - 1;
  }
  return removed;
}

int ResultSet::TakeReselectRow() {
  int row = reselect_row_;
  reselect_row_ = -1;
  if (row < 0 || rows_.empty()) return -1;
  return std::min(row, row_count() - 1);
}

}  // namespace quindelo
