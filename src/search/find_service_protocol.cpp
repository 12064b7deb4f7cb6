#include "search/find_service_protocol.h"

#include <algorithm>
#include <climits>

namespace quindelo {
namespace {

enum Tag : std::uint8_t {
  kTagLookIn = 1,
  kTagDriveRoot,
  kTagNamed,
  kTagContaining,
  kTagFlags,
  kTagSort,
  kTagLimit,
};
constexpr int kTagCount = kTagLimit + 1;
constexpr std::size_t kFieldHeaderSize = 5;

enum Flag : std::uint32_t {
  kFlagSubfolders = 1u << 0,
  kFlagRefresh = 1u << 1,
  kFlagRebuild = 1u << 2,
  kFlagIndexOnly = 1u << 3,
  kFlagNative = 1u << 4,
  kFlagDescending = 1u << 5,
};
constexpr std::uint32_t kKnownFlags = (1u << 6) - 1;

void PutLittle(std::uint64_t value, int bytes, std::string* out) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
}

std::uint32_t GetLittle(std::string_view bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

void PutField(Tag tag, std::string_view value, std::string* out) {
  out->push_back(static_cast<char>(tag));
  PutLittle(value.size(), 4, out);
  out->append(value);
}

std::string Little(std::uint64_t value, int bytes) {
  std::string out;
  PutLittle(value, bytes, &out);
  return out;
}

RequestParse Refuse(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return RequestParse::kRefused;
}

// Checks one whole field's value and puts it into *request.
bool TakeField(std::uint8_t tag, std::string_view value, FindServiceRequest* request,
               std::string* error) {
  auto text = [&](std::string* into, const char* what) {
    if (value.size() > kMaxServiceText) {
      *error = std::string("the ") + what + " text is longer than " +
               std::to_string(kMaxServiceText) + " bytes";
      return false;
    }
    if (value.find('\0') != std::string_view::npos) {
      *error = std::string("the ") + what + " text holds a NUL";
      return false;
    }
    into->assign(value);
    return true;
  };
  auto sized = [&](std::size_t size, const char* what) {
    if (value.size() == size) return true;
    *error = std::string("the ") + what + " field has " + std::to_string(value.size()) +
             " bytes instead of " + std::to_string(size);
    return false;
  };
  switch (tag) {
    case kTagLookIn:
      return text(&request->look_in, "look-in");
    case kTagDriveRoot:
      return text(&request->drive_root, "drive root");
    case kTagNamed:
      return text(&request->named, "named");
    case kTagContaining:
      return text(&request->containing, "containing");
    case kTagFlags: {
      if (!sized(4, "flags")) return false;
      const std::uint32_t flags = GetLittle(value, 0, 4);
      if (flags & ~kKnownFlags) {
        *error = "unknown flags";
        return false;
      }
      request->subfolders = flags & kFlagSubfolders;
      request->refresh = flags & kFlagRefresh;
      request->rebuild = flags & kFlagRebuild;
      request->index_only = flags & kFlagIndexOnly;
      request->native = flags & kFlagNative;
      request->descending = flags & kFlagDescending;
      return true;
    }
    case kTagSort: {
      if (!sized(1, "sort")) return false;
      const auto key = static_cast<unsigned char>(value[0]);
      if (key > static_cast<unsigned char>(ServiceSort::kNone)) {
        *error = "unknown sort key " + std::to_string(key);
        return false;
      }
      request->sort = static_cast<ServiceSort>(key);
      return true;
    }
    case kTagLimit: {
      if (!sized(4, "limit")) return false;
      const std::uint32_t limit = GetLittle(value, 0, 4);
      if (limit > static_cast<std::uint32_t>(INT_MAX)) {
        *error = "the limit is past " + std::to_string(INT_MAX);
        return false;
      }
      request->limit = limit;
      return true;
    }
    default:
      *error = "unknown field " + std::to_string(tag);
      return false;
  }
}

}  // namespace

std::string EncodeFindRequest(const FindServiceRequest& request) {
  std::string out(kFindServiceMagic, sizeof kFindServiceMagic);
  PutLittle(kFindServiceVersion, 2, &out);
  PutLittle(0, 2, &out);
  PutLittle(0, 4, &out);  // the total, once known
  PutField(kTagLookIn, request.look_in, &out);
  PutField(kTagDriveRoot, request.drive_root, &out);
  PutField(kTagNamed, request.named, &out);
  if (!request.containing.empty()) PutField(kTagContaining, request.containing, &out);
  std::uint32_t flags = 0;
  if (request.subfolders) flags |= kFlagSubfolders;
  if (request.refresh) flags |= kFlagRefresh;
  if (request.rebuild) flags |= kFlagRebuild;
  if (request.index_only) flags |= kFlagIndexOnly;
  if (request.native) flags |= kFlagNative;
  if (request.descending) flags |= kFlagDescending;
  PutField(kTagFlags, Little(flags, 4), &out);
  PutField(kTagSort, std::string(1, static_cast<char>(request.sort)), &out);
  PutField(kTagLimit, Little(request.limit, 4), &out);
  const std::string total = Little(out.size(), 4);
  out.replace(8, 4, total);
  return out;
}

RequestParse ParseFindRequest(std::string_view received, FindServiceRequest* request,
                              std::string* error) {
  const std::string_view magic(kFindServiceMagic, sizeof kFindServiceMagic);
  if (received.substr(0, magic.size()) != magic.substr(0, std::min(received.size(), magic.size())))
    return Refuse(error, "not a find request (wrong magic)");
  auto incomplete = [&](const char* what) {
    if (error) *error = std::string("the request is cut short in its ") + what;
    return RequestParse::kIncomplete;
  };
  if (received.size() >= 6 && GetLittle(received, 4, 2) != kFindServiceVersion)
    return Refuse(error, "unknown request version " + std::to_string(GetLittle(received, 4, 2)));
  if (received.size() >= 8 && GetLittle(received, 6, 2) != 0)
    return Refuse(error, "the header's reserved bytes are not zero");
  if (received.size() < kFindServiceHeaderSize) return incomplete("header");
  const std::uint32_t total = GetLittle(received, 8, 4);
  if (total < kFindServiceHeaderSize || total > kMaxServiceRequest)
    return Refuse(error, "the request's length " + std::to_string(total) + " is out of bounds");
  if (received.size() > total) return Refuse(error, "bytes follow the request");

  FindServiceRequest parsed;
  bool seen[kTagCount] = {};
  std::string why;
  std::size_t at = kFindServiceHeaderSize;
  while (at < total) {
    if (received.size() - at < kFieldHeaderSize) {
      if (total - at < kFieldHeaderSize) return Refuse(error, "a field's header runs past the end");
      return incomplete("fields");
    }
    const auto tag = static_cast<std::uint8_t>(received[at]);
    const std::uint32_t length = GetLittle(received, at + 1, 4);
    if (tag == 0 || tag >= kTagCount) return Refuse(error, "unknown field " + std::to_string(tag));
    if (seen[tag]) return Refuse(error, "field " + std::to_string(tag) + " appears twice");
    seen[tag] = true;
    at += kFieldHeaderSize;
    if (length > total - at) return Refuse(error, "a field's length runs past the end");
    if (length > kMaxServiceText)
      return Refuse(error, "a field is longer than " + std::to_string(kMaxServiceText) + " bytes");
    if (received.size() - at < length) return incomplete("fields");
    if (!TakeField(tag, received.substr(at, length), &parsed, &why)) return Refuse(error, why);
    at += length;
  }
  if (received.size() < total) return incomplete("fields");
  if (!seen[kTagLookIn] || parsed.look_in.empty()) return Refuse(error, "no look-in text");
  if (!seen[kTagNamed] || parsed.named.empty()) return Refuse(error, "no named text");
  if (request) *request = std::move(parsed);
  if (error) error->clear();
  return RequestParse::kComplete;
}

void AppendRecord(RecordType type, std::string_view payload, std::string* out) {
  const bool text = type == RecordType::kMessage || type == RecordType::kError;
  payload = payload.substr(0, text ? kMaxServiceText : kMaxRecordPayload);
  if (type == RecordType::kAccepted) payload = {};
  out->push_back(static_cast<char>(type));
  PutLittle(payload.size(), 4, out);
  out->append(payload);
}

void AppendEndRecord(const AnswerEnd& end, std::string* out) {
  std::string payload;
  PutLittle(end.count, 4, &payload);
  payload.push_back(end.complete ? 1 : 0);
  payload.push_back(static_cast<char>(end.exit_status));
  payload.push_back(end.served ? 1 : 0);
  payload.append(std::string_view(end.message).substr(0, kMaxServiceText));
  out->push_back(static_cast<char>(RecordType::kEnd));
  PutLittle(payload.size(), 4, out);
  out->append(payload);
}

AnswerReader::Next AnswerReader::Take(AnswerRecord* record) {
  if (broken_) return Next::kBroken;
  const std::string_view rest = std::string_view(pending_).substr(taken_);
  if (rest.size() < kRecordHeaderSize) return Next::kNeedMore;
  const auto type = static_cast<std::uint8_t>(rest[0]);
  const std::uint32_t length = GetLittle(rest, 1, 4);
  const bool known = type >= static_cast<std::uint8_t>(RecordType::kAccepted) &&
                     type <= static_cast<std::uint8_t>(RecordType::kEnd);
  std::size_t bound = kMaxRecordPayload;
  if (type == static_cast<std::uint8_t>(RecordType::kAccepted)) bound = 0;
  if (type == static_cast<std::uint8_t>(RecordType::kMessage) ||
      type == static_cast<std::uint8_t>(RecordType::kError))
    bound = kMaxServiceText;
  if (type == static_cast<std::uint8_t>(RecordType::kEnd)) bound = 7 + kMaxServiceText;
  if (!known || length > bound) {
    broken_ = true;
    return Next::kBroken;
  }
  if (rest.size() - kRecordHeaderSize < length) return Next::kNeedMore;
  const std::string_view payload = rest.substr(kRecordHeaderSize, length);
  AnswerRecord taken;
  taken.type = static_cast<RecordType>(type);
  if (taken.type == RecordType::kEnd) {
    if (payload.size() < 7 || static_cast<unsigned char>(payload[4]) > 1 ||
        static_cast<unsigned char>(payload[5]) > kFindExitError ||
        static_cast<unsigned char>(payload[6]) > 1) {
      broken_ = true;
      return Next::kBroken;
    }
    taken.end.count = GetLittle(payload, 0, 4);
    taken.end.complete = payload[4] == 1;
    taken.end.exit_status = static_cast<std::uint8_t>(payload[5]);
    taken.end.served = payload[6] == 1;
    taken.end.message.assign(payload.substr(7));
  } else {
    taken.text.assign(payload);
  }
  taken_ += kRecordHeaderSize + length;
  // Taken bytes go once they are the larger part, so that a long answer
  // keeps a short buffer without moving bytes at every record.
  if (taken_ > pending_.size() / 2) {
    pending_.erase(0, taken_);
    taken_ = 0;
  }
  *record = std::move(taken);
  return Next::kRecord;
}

}  // namespace quindelo
