// The data offered for selected files on the clipboard and in a drag, in the
// formats that Linux desktops read, built from native paths (any bytes but
// NUL; a name need not be valid UTF-8):
//
//   text/plain                    the paths, one a line ("\n" between them,
//                                 none after the last);
//   text/uri-list                 one file:// URI a line, each line ended by
//                                 "\r\n";
//   x-special/gnome-copied-files  "copy" or "cut", then the URIs, each on a
//                                 line of its own ("\n" between lines, none
//                                 after the last);
//   application/x-kde-cutselection  "1", offered after Cut only.
//
// A URI keeps the letters, digits, "-", ".", "_", "~" and "/" of the path
// and writes every other byte as "%" and two capital hex digits, so blanks,
// line breaks, "%", "#", "?" and bytes that are not UTF-8 survive the trip.
// A path with a line break cannot be told apart in text/plain; the URI
// formats carry it.
//
// Pure functions: thread-safe, no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quindelo::commands {

inline constexpr char kMimeTextPlain[] = "text/plain";
inline constexpr char kMimeUriList[] = "text/uri-list";
inline constexpr char kMimeGnomeCopiedFiles[] = "x-special/gnome-copied-files";
inline constexpr char kMimeKdeCutSelection[] = "application/x-kde-cutselection";

// The file:// URI of an absolute native path.
std::string FileUri(std::string_view native_path);

// The URI's native path: "file://" (host empty or "localhost") or "file:"
// followed by an absolute path whose %XX escapes are decoded. False for
// another scheme or host, a bad escape, or an escaped NUL or "/" (no name
// holds either).
bool NativePathOfUri(std::string_view uri, std::string* native_path);

// Every format's bytes for the selected native paths in list order.
struct ClipboardData {
  std::string text;              // text/plain
  std::string uri_list;          // text/uri-list
  std::string gnome_copied;      // x-special/gnome-copied-files
  std::string kde_cut;           // application/x-kde-cutselection; empty after Copy
};

enum class ClipboardAction { kCopy, kCut };

ClipboardData BuildClipboardData(const std::vector<std::string>& native_paths,
                                 ClipboardAction action);

// The native paths of a text/uri-list: lines ended by "\r\n" or "\n",
// comment lines ("#") and empty lines left out, and each URI through
// NativePathOfUri; a URI that names no local file is left out too.
std::vector<std::string> ParseUriList(std::string_view uri_list);

}  // namespace quindelo::commands
