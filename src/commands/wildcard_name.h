// Destination names of copy, move and rename: a name with the wildcards *
// and ? is turned into one destination per source file. Paths are drive
// paths (D:\Work\report.txt). Pure string work: thread-safe, no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quindelo::commands {

// Longest destination path (a 260-byte buffer with its NUL).
inline constexpr std::size_t kMaxDestinationLength = 259;

// The destination of source under pattern. The folder is the pattern's own
// up to its last backslash, else the source's folder. The name: the source's
// name whole when the pattern's name is empty or "*"; otherwise the
// pattern's name walked left to right with a cursor on the source's name,
// where plain characters are copied, "*" takes the source's characters up
// to its next "." (or end), "?" takes one character (none at a "." or the
// end), and "." moves the cursor past the source's next "." and writes ".".
// So *.bak gives D:\Work\report.bak and ??po.doc gives D:\Work\repo.doc for
// D:\Work\report.txt. False, with *destination empty, when the result would
// be longer than 259 characters: a cut name would name another file.
bool WildcardDestinationName(std::string_view pattern, std::string_view source,
                             std::string* destination);

// True when text holds "*" or "?".
bool HasWildcard(std::string_view text);

// The one destination entry of Copy and Move into a folder: the folder, a
// backslash unless it ends with one, and "*" (D:\Backup gives D:\Backup\*).
// The folder is taken as it is written, "*" and "?" in it included.
std::string FolderDestination(std::string_view folder);

// The destination list of Copy and Move for the Destination Folder dialog's
// text: without wildcards the one entry text + "\" (unless it ends with one)
// + "*", so that every file keeps its name in that folder; with wildcards
// one WildcardDestinationName per source, in order. For Rename pass
// always_per_file: one entry per source. An entry that cannot be built is
// left empty (its file is skipped).
std::vector<std::string> DestinationList(std::string_view text,
                                         const std::vector<std::string>& sources,
                                         bool always_per_file);

}  // namespace quindelo::commands
