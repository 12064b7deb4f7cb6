// The selected files of the results list on the clipboard and in a drag.
//
// Copy and Cut put the native paths of the selected rows, in list order, on
// the clipboard in every format that Linux desktops read for files
// (commands/clipboard_formats.h), so that a paste in a file manager copies
// or moves them. Cut removes nothing from the list. A drag offers the same
// URIs as text/uri-list and the paths as text/plain.
//
// GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "commands/clipboard_formats.h"

class QMimeData;

namespace quindelo::ui {

class ResultsView;

// The native paths of the selected rows in list order; a row whose drive is
// gone is left out.
std::vector<std::string> SelectedNativePaths(const ResultsView& view);

// New data objects (the caller owns them): all four formats for Copy or
// Cut, and the drag's text/uri-list and text/plain.
QMimeData* MakeClipboardMimeData(const std::vector<std::string>& native_paths,
                                 commands::ClipboardAction action);
QMimeData* MakeDragMimeData(const std::vector<std::string>& native_paths);

// Puts the selection on the system clipboard. False, leaving the clipboard
// alone, when no selected row has a path.
bool PutSelectionOnClipboard(const ResultsView& view, commands::ClipboardAction action);

}  // namespace quindelo::ui
