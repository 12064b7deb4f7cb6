// The walk over the selected rows of the results list, as every command on
// found files takes it: in list order, each row's drive path (what messages
// and the system's own texts show, cut to 259 characters), its whole drive
// path and its native path (what commands act on: never cut, so never the
// name of another file).
//
// Thread-safety: the walk reads the rows through RowSelection, so it runs
// where the rows may be read (the window thread). Nothing here keeps state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "search/found_file.h"

namespace quindelo::commands {

// What the walk needs of the results list.
class RowSelection {
 public:
  virtual ~RowSelection() = default;
  // The first selected row after row `after` (-1 to start), in list order;
  // -1 when there is none.
  virtual int NextSelectedRow(int after) const = 0;
  // The record of a row; null when the row cannot be read (it is skipped).
  virtual const FoundFile* RowRecord(int row) const = 0;
};

struct SelectedFile {
  // The row's folder text, a backslash unless it ends in one, and its name,
  // cut to 259 characters: the path as the system shows it.
  std::string path;
  // The whole path (never cut) on the file system; empty when the drive
  // letter is not a drive any more.
  std::string native_path;
  // The whole drive path, never cut: what a command given drive paths (a
  // copy, move, rename or delete) acts on.
  std::string drive_path = std::string();
};

// The next selected row's path after *row (-1 to start): sets *row and
// *path (cut to 259 characters) and returns true; false at the end. The cut
// path is for texts shown or stored only: a command acts on the whole paths
// of CollectSelectedFiles.
bool NextSelectedPath(const RowSelection& selection, int* row, std::string* path);

// Every selected row in list order. The drive table is read once per drive
// letter, so a selection of many files costs one lookup.
std::vector<SelectedFile> CollectSelectedFiles(const RowSelection& selection);

// The native paths of files, in order, leaving out those on no drive.
std::vector<std::string> NativePaths(const std::vector<SelectedFile>& files);

// The folder a program started on a file begins in: the native folder that
// holds native_path ("/" for a file in the root; a path given between double
// quotes is read without them). Empty when the text names no folder, and
// the program is then started without one. A blank in a folder name is part
// of the name.
std::string WorkingFolder(std::string_view native_path);

}  // namespace quindelo::commands
