#include "search/found_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/ascii.h"
#include "platform/folder.h"
#include "platform/paths.h"

namespace quindelo {

const char kEmptyTypeText[] = "";

namespace {

// Type names from the desktop are kept to the length of the shell's own
// type-name buffer; class descriptions to 127 characters.
constexpr std::size_t kMaxTypeNameLength = 79;
constexpr std::size_t kMaxClassTextLength = 127;

class CoreFileTypeProvider : public FileTypeProvider {
 public:
  bool IconIndex(const std::string&, std::int32_t*) const override { return false; }

  bool TypeName(const std::string& native_path, std::string* type) const override {
    std::size_t slash = native_path.rfind('/');
    std::string_view name(native_path);
    if (slash != std::string::npos) name.remove_prefix(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) return false;
    type->clear();
    for (char c : name.substr(dot + 1))
      type->push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    type->append(" File");
    return true;
  }

  bool ExtensionClassDescription(const std::string&, std::string*) const override {
    return false;
  }
};

template <typename T>
int ThreeWay(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}


// The type text of a file: the provider's type name, else the description
// of its extension's class, else empty.
std::string LookUpType(const std::string& native, const char* name,
                       const FileTypeProvider& provider) {
  std::string text;
  if (!native.empty() && provider.TypeName(native, &text)) {
    if (text.size() > kMaxTypeNameLength) text.resize(kMaxTypeNameLength);
    return text;
  }
  text.clear();
  const char* dot = std::strrchr(name, '.');
  if (!dot) return text;
  std::string extension(dot, std::min(std::strlen(dot), kMaxClassTextLength));
  if (provider.ExtensionClassDescription(extension, &text)) {
    if (text.size() > kMaxClassTextLength) text.resize(kMaxClassTextLength);
    return text;
  }
  return std::string();
}

}  // namespace

const FileTypeProvider& DefaultFileTypeProvider() {
  static const CoreFileTypeProvider provider;
  return provider;
}

ResultsPool::ResultsPool(const FileTypeProvider* provider)
    : provider_(provider ? provider : &DefaultFileTypeProvider()) {}

void ResultsPool::set_type_provider(const FileTypeProvider* provider) {
  provider_ = provider ? provider : &DefaultFileTypeProvider();
}

void ResultsPool::Clear() {
  ++generation_;
  StringPool::Clear();
}

std::size_t FolderTextLength(std::string_view full_path) {
  std::size_t slash = full_path.rfind('\\');
  std::size_t length = slash == std::string_view::npos ? 0 : slash;
  if (length < 3) length = 3;
  return std::min(length, full_path.size());
}

FoundFile* ResultsPool::AddFoundFile(std::string_view full_path, CurrentFolder* current) {
  // A NUL inside the text ends it, as it would for any C string.
  full_path = full_path.substr(0, std::min(full_path.size(), full_path.find('\0')));
  std::size_t folder_length = FolderTextLength(full_path);
  std::size_t slash = full_path.rfind('\\');
  std::string_view name =
      slash == std::string_view::npos ? full_path : full_path.substr(slash + 1);
  std::string_view folder = full_path.substr(0, folder_length);

  const char* folder_text;
  if (current->generation == generation_ && current->text && current->length == folder.size() &&
      std::memcmp(current->text, folder.data(), folder.size()) == 0) {
    folder_text = current->text;
  } else {
    folder_text = Add(folder);
    current->text = folder_text;
    current->length = folder.size();
    current->generation = generation_;
  }

  // Pieces are carved at even offsets from 16-byte aligned chunks; the record
  // needs 8-byte alignment, so leave room to move it up.
  constexpr std::size_t kAlign = alignof(FoundFile);
  char* raw = Allocate(sizeof(FoundFile) + name.size() + 1 + kAlign - 2);
  auto address = reinterpret_cast<std::uintptr_t>(raw);
  address = (address + kAlign - 1) & ~static_cast<std::uintptr_t>(kAlign - 1);
  auto* record = new (reinterpret_cast<void*>(address)) FoundFile;
  record->type = nullptr;
  record->last_write = 0;
  record->folder = folder_text;
  record->icon = FoundFile::kIconNotFetched;
  record->size = FoundFile::kSizeNotFetched;
  char* name_out = record->mutable_name();
  if (!name.empty()) std::memcpy(name_out, name.data(), name.size());
  name_out[name.size()] = '\0';
  return record;
}

std::string UncutPath(const FoundFile& record) {
  std::string path(record.folder);
  if (path.empty() || path.back() != '\\') path.push_back('\\');
  path.append(record.name());
  return path;
}

std::string FullPath(const FoundFile& record) {
  std::string path = UncutPath(record);
  if (path.size() > kMaxFoundPathLength) path.resize(kMaxFoundPathLength);
  return path;
}

void FetchFileDetails(FoundFile* record, FileDetail what, ResultsPool* pool) {
  switch (what) {
    case FileDetail::kIcon:
      if (record->icon_fetched()) return;
      break;
    case FileDetail::kType:
      if (record->type_fetched()) return;
      break;
    case FileDetail::kSizeAndDate:
      if (record->size_fetched()) return;
      break;
  }
  if (what != FileDetail::kIcon) {
    StoreFileDetail(record,
                    LookUpFileDetail(UncutPath(*record), record->name(), what, pool->type_provider()),
                    pool);
    return;
  }
  std::string native;
  if (!platform::ToNativePath(UncutPath(*record), &native)) native.clear();
  std::int32_t icon = 0;
  if (native.empty() || !pool->type_provider().IconIndex(native, &icon) || icon < 0) icon = 0;
  record->icon = icon;
}

FileDetailLookup LookUpFileDetail(const std::string& uncut_path, const std::string& name,
                                  FileDetail what, const FileTypeProvider& provider) {
  FileDetailLookup found;
  found.what = what;
  std::string native;
  if (!platform::ToNativePath(uncut_path, &native)) native.clear();
  if (what == FileDetail::kType) {
    found.type = LookUpType(native, name.c_str(), provider);
  } else if (what == FileDetail::kSizeAndDate) {
    platform::FindData data;
    if (!native.empty() && platform::GetFindData(native, &data)) {
      found.size = static_cast<std::uint32_t>(data.size);
      found.last_write = data.last_write_time;
    }
  }
  return found;
}

void StoreFileDetail(FoundFile* record, const FileDetailLookup& found, ResultsPool* pool) {
  switch (found.what) {
    case FileDetail::kType:
      if (record->type_fetched()) return;
      record->type = found.type.empty() ? kEmptyTypeText : pool->Add(found.type);
      return;
    case FileDetail::kSizeAndDate:
      if (record->size_fetched()) return;
      record->size = found.size;
      record->last_write = found.last_write;
      return;
    case FileDetail::kIcon:
      return;
  }
}

int CompareFoundFiles(FoundFile* a, FoundFile* b, SortOrder order, ResultsPool* pool) {
  int result = 0;
  switch (order.key) {
    case SortKey::kType:
      FetchFileDetails(a, FileDetail::kType, pool);
      FetchFileDetails(b, FileDetail::kType, pool);
      result = ascii::CompareNoCase(a->type, b->type);
      break;
    case SortKey::kSize:
      FetchFileDetails(a, FileDetail::kSizeAndDate, pool);
      FetchFileDetails(b, FileDetail::kSizeAndDate, pool);
      result = ThreeWay(a->size, b->size);
      break;
    case SortKey::kDate:
      FetchFileDetails(a, FileDetail::kSizeAndDate, pool);
      FetchFileDetails(b, FileDetail::kSizeAndDate, pool);
      // Times within one step of 2^32 hundred-nanosecond units tie.
      result = ThreeWay(static_cast<std::uint32_t>(a->last_write >> 32),
                        static_cast<std::uint32_t>(b->last_write >> 32));
      break;
    case SortKey::kName:
    case SortKey::kFolder:
    default:
      break;
  }
  if (result == 0 && order.key == SortKey::kName)
    result = ascii::CompareNoCase(a->name(), b->name());
  if (result == 0) {
    result = a->folder == b->folder ? 0 : ascii::CompareNoCase(a->folder, b->folder);
    if (result == 0) result = ascii::CompareNoCase(a->name(), b->name());
  }
  return order.descending ? -result : result;
}

}  // namespace quindelo
