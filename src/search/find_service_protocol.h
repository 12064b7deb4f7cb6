// The find service's wire format: what `quindelo-find` asks a live
// `quindelo-find --serve` process over its local socket, and the records the
// live process answers with.
//
// A request is one message per connection: a 12-byte header, then fields.
//   header: the magic "QNFR", the version (2 bytes), 2 zero bytes, and the
//           total length of the request, header included (4 bytes);
//   field:  a tag (1 byte), the value's length (4 bytes), the value.
// Every number is little-endian. Each known tag appears at most once; the
// look-in and named texts are required. Texts hold no NUL and at most
// kMaxServiceText bytes; the flags, sort key and limit have their exact
// sizes. Anything else (another magic or version, an unknown tag or flag, a
// length past the end or past the bounds, bytes after the total) is refused.
//
// The answer is a stream of records, each a type (1 byte), the payload's
// length (4 bytes, at most kMaxRecordPayload) and the payload:
//   kAccepted  (empty) the request is taken; the rest follows when the find
//              has run, however long that takes;
//   kPath      one path, as the asker prints it;
//   kMessage   a line for standard error (a warning or an error of the find);
//   kError     what is wrong with a request that was refused;
//   kEnd       the last record (AnswerEnd): how many paths were sent, whether
//              the answer is whole, the exit status, whether the drive is
//              served at all, and the end message.
//
// Nothing here keeps state between calls except AnswerReader, which belongs
// to one thread; every function is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindelo {

inline constexpr char kFindServiceMagic[4] = {'Q', 'N', 'F', 'R'};
inline constexpr std::uint16_t kFindServiceVersion = 1;
inline constexpr std::size_t kFindServiceHeaderSize = 12;
// The longest text of a request field, and of a message.
inline constexpr std::size_t kMaxServiceText = 4096;
// The longest request: every text at its bound, with room for the rest.
inline constexpr std::size_t kMaxServiceRequest =
    kFindServiceHeaderSize + 6 * (5 + kMaxServiceText);
// The longest payload of an answer record.
inline constexpr std::size_t kMaxRecordPayload = 2 * kMaxServiceText + 16;
inline constexpr std::size_t kRecordHeaderSize = 5;

// The exit statuses of the command-line finder, which the end record carries.
inline constexpr int kFindExitFound = 0;
inline constexpr int kFindExitNoneFound = 1;
inline constexpr int kFindExitError = 2;

// The order the paths are answered in.
enum class ServiceSort : std::uint8_t { kName, kFolder, kType, kSize, kDate, kNone };

struct FindServiceRequest {
  std::string look_in;     // drive form: "T:" or "T:\src;T:\doc"
  std::string drive_root;  // the native root the asker maps the look-in drive to
  std::string named;       // not empty
  std::string containing;
  bool subfolders = true;
  bool refresh = false;
  bool rebuild = false;
  bool index_only = false;
  bool native = false;  // answer native paths
  bool descending = false;
  ServiceSort sort = ServiceSort::kFolder;
  std::uint32_t limit = 0;  // 0: none; at most INT32_MAX
  bool operator==(const FindServiceRequest&) const = default;
};

// The bytes of a request. Texts past kMaxServiceText are not cut here: such
// a request is refused by the parser, so callers cut them first.
std::string EncodeFindRequest(const FindServiceRequest& request);

enum class RequestParse {
  kIncomplete,  // a beginning of a valid request: more bytes may follow
  kComplete,    // exactly one valid request; *request holds it
  kRefused,     // not a request; *error says why
};

// Parses the bytes received so far on one connection. *request (may be
// null, to check the framing only) is set only for kComplete. *error (may
// be null) says why for kRefused, and for kIncomplete what is still
// missing (the answer for a peer that stops sending there).
RequestParse ParseFindRequest(std::string_view received, FindServiceRequest* request,
                              std::string* error);

enum class RecordType : std::uint8_t { kAccepted = 1, kPath, kMessage, kError, kEnd };

struct AnswerEnd {
  std::uint32_t count = 0;  // paths sent
  bool complete = true;     // false: cut at the limit, stopped, or failed
  std::uint8_t exit_status = kFindExitNoneFound;
  bool served = true;   // false: this process does not serve the drive; ask the index itself
  std::string message;  // the end message ("Found 3 files."); may be empty
  bool operator==(const AnswerEnd&) const = default;
};

// Appends one record to *out. Payloads are cut to kMaxRecordPayload (text
// records to kMaxServiceText).
void AppendRecord(RecordType type, std::string_view payload, std::string* out);
void AppendEndRecord(const AnswerEnd& end, std::string* out);

// One record of an answer.
struct AnswerRecord {
  RecordType type = RecordType::kAccepted;
  std::string text;  // kPath, kMessage, kError
  AnswerEnd end;     // kEnd
};

// Splits the bytes of an answer into records as they arrive. A record of an
// unknown type, with a payload past its bound, or a malformed end record
// breaks the answer: the reader then gives nothing more. One thread.
class AnswerReader {
 public:
  enum class Next { kRecord, kNeedMore, kBroken };

  void Feed(std::string_view bytes) { pending_.append(bytes); }
  // The next whole record into *record, if one has arrived.
  Next Take(AnswerRecord* record);
  // Bytes received and not yet taken as records.
  std::size_t pending() const { return pending_.size() - taken_; }

 private:
  std::string pending_;
  std::size_t taken_ = 0;
  bool broken_ = false;
};

}  // namespace quindelo
