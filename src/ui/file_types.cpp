#include "ui/file_types.h"

#include <QApplication>
#include <QStyle>

#include "platform/folder.h"
#include "ui/native_text.h"

namespace quindelo::ui {

namespace {

constexpr char kFolderMimeType[] = "inode/directory";

bool IsFolder(const std::string& native_path) {
  platform::FindData data;
  return platform::GetFindData(native_path, &data) &&
         (data.attributes & platform::kFileAttributeDirectory) != 0 && !data.is_link;
}

}  // namespace

FileTypes::FileTypes() {
  // Index 0: the generic file icon, for types without an icon name.
  platform::MutexLock lock(&mutex_);
  entries_.push_back({QStringLiteral("text-x-generic"), QString(), false});
  by_name_.emplace(entries_.back().name, 0);
}

FileTypes::~FileTypes() = default;

QMimeType FileTypes::TypeOf(const std::string& native_path) const {
  if (IsFolder(native_path)) return mime_.mimeTypeForName(QLatin1String(kFolderMimeType));
  {
    // A row's icon and type are asked for one after the other; a file's type
    // depends on its name alone.
    platform::MutexLock lock(&mutex_);
    if (native_path == last_file_path_) return last_file_type_;
  }
  // By name only: the file's contents are never read.
  QMimeType type = mime_.mimeTypeForFile(FromNative(native_path), QMimeDatabase::MatchExtension);
  platform::MutexLock lock(&mutex_);
  last_file_path_ = native_path;
  last_file_type_ = type;
  return type;
}

bool FileTypes::IconIndex(const std::string& native_path, std::int32_t* icon) const {
  const QMimeType type = TypeOf(native_path);
  const bool folder = type.name() == QLatin1String(kFolderMimeType);
  QString name = type.isValid() ? type.iconName() : QString();
  *icon = 0;
  if (name.isEmpty()) return true;
  platform::MutexLock lock(&mutex_);
  auto found = by_name_.find(name);
  if (found != by_name_.end()) {
    *icon = found->second;
    return true;
  }
  const auto index = static_cast<std::int32_t>(entries_.size());
  entries_.push_back({name, type.genericIconName(), folder});
  by_name_.emplace(name, index);
  *icon = index;
  return true;
}

bool FileTypes::TypeName(const std::string& native_path, std::string* type) const {
  const QMimeType mime = TypeOf(native_path);
  // The default type (application/octet-stream) is what an unknown name
  // gets; such a name with an extension is typed as a desktop types an
  // unregistered extension ("QQQ File").
  if (!mime.isValid() || mime.isDefault())
    return DefaultFileTypeProvider().TypeName(native_path, type);
  QString comment = mime.comment();
  if (comment.isEmpty()) return false;
  *type = ToUtf8(comment);
  return true;
}

bool FileTypes::ExtensionClassDescription(const std::string&, std::string*) const {
  return false;
}

QIcon FileTypes::Icon(std::int32_t index) const {
  if (index < 0) return QIcon();
  const auto at = static_cast<std::size_t>(index);
  if (at < icons_.size() && !icons_[at].isNull()) return icons_[at];
  IconEntry entry;
  {
    platform::MutexLock lock(&mutex_);
    if (at >= entries_.size()) return QIcon();
    entry = entries_[at];
  }
  QIcon icon = QIcon::fromTheme(entry.name);
  if (icon.isNull() && !entry.generic_name.isEmpty()) icon = QIcon::fromTheme(entry.generic_name);
  if (icon.isNull() && qApp) {
    icon = QApplication::style()->standardIcon(entry.folder ? QStyle::SP_DirIcon
                                                             : QStyle::SP_FileIcon);
  }
  if (icons_.size() <= at) icons_.resize(at + 1);
  icons_[at] = icon;
  return icon;
}

int FileTypes::IconCount() const {
  platform::MutexLock lock(&mutex_);
  return static_cast<int>(entries_.size());
}

}  // namespace quindelo::ui
