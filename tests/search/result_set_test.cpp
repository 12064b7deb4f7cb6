// The result set: batches placed at their sorted place with the ranges they
// took, the row limit taken in order of arrival, the keep filter, and
// removal, each told to a listener in contiguous runs.
#include "search/result_set.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace quindelo {
namespace {

// Records every announced change as text, and checks each begin has its end.
class Log : public ResultSet::Listener {
 public:
  void BeginInsertRows(int first, int count) override { Begin("insert", first, count); }
  void EndInsertRows() override { End(); }
  void BeginRemoveRows(int first, int count) override { Begin("remove", first, count); }
  void EndRemoveRows() override { End(); }
  void BeginReset() override { Begin("reset", 0, 0); }
  void EndReset() override { End(); }
  void BeginReorder() override { Begin("reorder", 0, 0); }
  void EndReorder() override { End(); }
  std::vector<std::string> entries;
  bool open = false;

 private:
  void Begin(const char* what, int first, int count) {
    EXPECT_FALSE(open) << what;
    open = true;
    entries.push_back(std::string(what) + " " + std::to_string(first) + "+" +
                      std::to_string(count));
  }
  void End() {
    EXPECT_TRUE(open);
    open = false;
  }
};

std::vector<std::string> Names(const ResultSet& rows) {
  std::vector<std::string> names;
  for (const FoundFile* record : rows.rows()) names.push_back(record->name());
  return names;
}

TEST(ResultSetTest, BatchesLimitFilterAndRemoval) {
  struct Case {
    const char* name;
    bool sorted;
    int limit;
    const char* refused;  // a name the keep filter refuses, or null
    std::vector<std::vector<std::string>> batches;
    std::vector<std::string> rows;
    std::vector<std::vector<RowRange>> ranges;  // per batch
  };
  const Case cases[] = {
      {"sorted: runs of a batch between the rows there",
       true, 0, nullptr,
       {{"T:\\b", "T:\\d"}, {"T:\\a", "T:\\c", "T:\\e", "T:\\f"}},
       {"a", "b", "c", "d", "e", "f"},
       {{{0, 2}}, {{0, 1}, {2, 1}, {4, 2}}}},
      {"unsorted: appended in order of arrival",
       false, 0, nullptr,
       {{"T:\\b", "T:\\a"}, {"T:\\c"}},
       {"b", "a", "c"},
       {{{0, 2}}, {{2, 1}}}},
      {"the limit takes the first arrivals, not the first in order",
       true, 3, nullptr,
       {{"T:\\z", "T:\\y"}, {"T:\\x", "T:\\a"}, {"T:\\b"}},
       {"x", "y", "z"},
       {{{0, 2}}, {{0, 1}}, {}}},
      {"sorted: a refused row leaves no gap in the places after it",
       true, 0, "c",
       {{"T:\\d"}, {"T:\\a", "T:\\c", "T:\\e"}},
       {"a", "d", "e"},
       {{{0, 1}}, {{0, 1}, {2, 1}}}},
      {"unsorted: the limit counts only the rows kept",
       false, 2, "b",
       {{"T:\\a", "T:\\b", "T:\\c", "T:\\d"}},
       {"a", "c"},
       {{{0, 2}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultSet rows;
    Log log;
    rows.set_listener(&log);
    rows.set_sort_order({SortKey::kName, false});
    rows.set_sorted_insert(c.sorted);
    rows.set_row_limit(c.limit);
    if (c.refused)
      rows.set_keep_filter(
          [&c](FoundFile* record) { return std::string(record->name()) != c.refused; });
    std::vector<std::vector<RowRange>> ranges;
    for (const auto& batch : c.batches) ranges.push_back(rows.Add(batch));
    EXPECT_EQ(Names(rows), c.rows);
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(rows.at_limit(), c.limit > 0 && static_cast<int>(c.rows.size()) >= c.limit);
    int announced = 0;
    for (const std::string& entry : log.entries)
      announced += std::stoi(entry.substr(entry.find('+') + 1));
    EXPECT_EQ(announced, static_cast<int>(c.rows.size()));
  }

  // Removal goes from the bottom, one run at a time; a reorder keeps the
  // records; Clear empties everything and moves the generation on.
  ResultSet rows;
  Log log;
  rows.set_listener(&log);
  rows.set_sort_order({SortKey::kName, false});
  rows.Add({"T:\\a", "T:\\b", "T:\\c", "T:\\d", "T:\\e"});
  std::unordered_set<const FoundFile*> gone = {rows.row(1), rows.row(2), rows.row(4)};
  log.entries.clear();
  EXPECT_EQ(rows.Remove(gone), 3);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"remove 4+1", "remove 1+2"}));
  EXPECT_EQ(Names(rows), (std::vector<std::string>{"a", "d"}));
  rows.Resort({SortKey::kName, true});
  EXPECT_EQ(Names(rows), (std::vector<std::string>{"d", "a"}));
  rows.set_reselect_row(7);
  EXPECT_EQ(rows.TakeReselectRow(), 1);  // clamped to the last row
  EXPECT_EQ(rows.TakeReselectRow(), -1);
  const std::uint64_t generation = rows.generation();
  rows.Clear();
  EXPECT_EQ(rows.row_count(), 0);
  EXPECT_EQ(rows.pool().bytes_used(), 0u);
  EXPECT_NE(rows.generation(), generation);
  EXPECT_FALSE(log.open);
}

}  // namespace
}  // namespace quindelo
