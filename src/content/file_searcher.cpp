#include "content/file_searcher.h"

#include <algorithm>

#include "content/content_matcher.h"

namespace quindelo {

bool FileSearcher::SetRoot(const std::string& native_root) { return files_.SetRoot(native_root).ok(); }

void FileSearcher::Close() {
  file_.Close();
  files_.Close();
}

FileSearcher::Result FileSearcher::Search(const std::string& native_path, ContentMatcher* matcher,
                                          const std::function<bool()>& stop_requested,
                                          std::string* message) {
  if (!matcher->compiled()) return Result::kNoMatch;
  std::uint64_t size = 0;
  if (!files_.OpenForReading(native_path, &file_, &size)) return Result::kNoMatch;
  Result result = Result::kNoMatch;
  matcher->Begin();
  // The size was taken when the file was checked: a file that delivers fewer
  // bytes is a read failure, and bytes added since are not read.
  bool decided = false;
  for (std::uint64_t offset = 0; offset < size && !decided;) {
    if (offset > 0 && stop_requested && stop_requested()) {
      result = Result::kStopped;
      break;
    }
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(ContentMatcher::kBlockSize, size - offset));
    if (!file_.ReadExact(offset, matcher->BlockSpace(), count)) {
      if (message) *message = "Unable to read " + native_path;
      file_.Close();
      return Result::kNoMatch;
    }
    offset += count;
    decided = matcher->ScanBlock(count);
  }
  file_.Close();
  if (result == Result::kStopped) return result;
  return matcher->Finish() ? Result::kMatch : Result::kNoMatch;
}

}  // namespace quindelo
