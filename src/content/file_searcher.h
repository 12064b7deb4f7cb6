// Content search of the files below one root folder: FileSearcher owns the
// reading of each file and feeds its bytes to a ContentMatcher, which knows
// bytes only.
//
// A file is reached from the root by the names of its folders and its own
// name, never through a symbolic link (a link is never searched, whatever it
// leads to) and never onto another file system than the root's, so nothing
// outside the root is read through the names it is given. Only a regular
// file is opened: a FIFO, socket, device or folder is never opened (opening
// a FIFO waits for a writer, opening a device can act on it), and an entry
// swapped for any of these, or for a link, between its examination and its
// open is not read (platform::FilesBelowRoot). The open file is checked
// once, which gives its size; its blocks are read straight into the
// matcher's block space, at most ContentMatcher::kBlockSize bytes at a
// time, and no further once the matcher has decided. A file of n bytes
// costs one examination, one open, one check, ceil(n / kBlockSize) reads
// and one close; the folder of the last file stays open, so consecutive
// files of one folder cost no folder lookup.
//
// Thread-safety: a FileSearcher is used by one thread at a time; one
// searcher (and one matcher) per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file.h"
#include "platform/folder.h"

namespace quindelo {

class ContentMatcher;  // content/content_matcher.h

class FileSearcher {
 public:
  enum class Result { kNoMatch, kMatch, kStopped };

  FileSearcher() = default;
  FileSearcher(const FileSearcher&) = delete;
  FileSearcher& operator=(const FileSearcher&) = delete;

  // Makes native_root the root below which files are searched (links on the
  // way to the root itself are followed: the root is the folder the caller
  // chose), unless it already is. False when it cannot be opened; every
  // search then finds nothing.
  bool SetRoot(const std::string& native_root);

  // Lets go of the root and of the open folder (a removable drive can then
  // be unmounted); the next SetRoot opens the root again.
  void Close();

  // Searches the file at native_path (absolute, below the root) with
  // matcher: kMatch when its contents satisfy the matcher's expression. A
  // file that cannot be opened under the rules above (missing, a link, no
  // regular file, unreadable, outside the root) is not a match and
  // *message is left untouched; so is every file when the matcher's
  // expression did not compile (nothing is then opened). When a read fails
  // or the file turns out shorter than its size said, *message (may be
  // null) becomes "Unable to read <native_path>" and the result is kNoMatch.
  // stop_requested (may be empty) is asked before each read after the
  // first; as soon as it answers true the search gives up with kStopped,
  // reading no further, so that a search of any file stops within the time
  // one block takes.
  // REQUIRES: matcher is not null.
  Result Search(const std::string& native_path, ContentMatcher* matcher,
                const std::function<bool()>& stop_requested, std::string* message);

 private:
  platform::FilesBelowRoot files_;
  platform::File file_;  // the file being searched; closed between searches
};

}  // namespace quindelo
