// The view options block: the thirteen 32-bit integers that describe how the
// results list shows a find (five show flags, five column widths, sort key,
// descending, include subfolders). The find form holds one block; saved-find
// files store it as thirteen decimal lines, and the untitled (default) find
// keeps it in the settings store.
//
// A plain value type; no locking.
#pragma once

#include <array>
#include <cstdint>

namespace quindelo {

class SettingsStore;

// Columns of the results list, in their fixed order.
enum ViewColumn : int { kColumnName = 0, kColumnFolder, kColumnType, kColumnSize, kColumnDate };
inline constexpr int kViewColumnCount = 5;

struct ViewOptions {
  static constexpr int kCount = 13;

  // Show flags (0 or 1; any nonzero value counts as set).
  std::int32_t show_icon = 1;
  std::int32_t show_extension = 0;
  std::int32_t show_type = 0;
  std::int32_t show_size = 0;
  std::int32_t show_date = 0;
  // Widths in pixels of Name, Folder, Type, Size, Date; 0 or less means the
  // column's standard width.
  std::array<std::int32_t, kViewColumnCount> column_widths{};
  // Sort key: a ViewColumn. Stored values are kept as they are; use SortKey().
  std::int32_t sort_column = kColumnFolder;
  std::int32_t sort_descending = 0;
  std::int32_t include_subfolders = 1;

  // The block of a fresh installation (the member defaults above).
  static ViewOptions Defaults() { return ViewOptions(); }

  // The sort key to use: sort_column when it names a column, else Folder.
  int SortKey() const {
    return sort_column >= kColumnName && sort_column <= kColumnDate ? sort_column
                                                                      : kColumnFolder;
  }

  // The thirteen integers in their stored order, and back.
  std::array<std::int32_t, kCount> ToArray() const;
  static ViewOptions FromArray(const std::array<std::int32_t, kCount>& values);

  bool operator==(const ViewOptions&) const = default;
};

// Reads the block from the settings store (sections "View", "ColumnWidths"
// and "Options"): all thirteen start at 0, each value present is taken, and
// FileIcon, SortColumn and IncludeSubfolders fall back to 1, 1 and 1 when
// missing or not integers.
ViewOptions LoadViewOptions(SettingsStore* store);

// Writes the block to the settings store; a column width is written only
// when greater than 0. False when any write failed (the others are still
// attempted).
bool SaveViewOptions(SettingsStore* store, const ViewOptions& options);

}  // namespace quindelo
