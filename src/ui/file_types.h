// FileTypes: the desktop's answer to "what kind of file is this", for the
// results list. Type texts and icons come from the shared-mime-info database
// (QMimeDatabase), matched by the file's name only: reading a file's
// contents, or asking QFileIconProvider, costs about 0.1 ms a row, far too
// much for a list that draws thousands. A folder's type is the comment of
// the folder MIME type (inode/directory); telling a folder from a file takes
// one lstat, never following a link.
//
// Icons are kept in a list of their own, one entry per icon name of the MIME
// types met so far, so that every file of one type shares one QIcon; a
// record's icon index (FoundFile::icon) is an index into that list, and
// index 0 is the generic file icon.
//
// Thread-safety: IconIndex, TypeName and ExtensionClassDescription may run on
// any thread (the icon-name list has its own lock). Icon() creates QIcons
// and belongs to the GUI thread.
#pragma once

#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "search/found_file.h"

namespace quindelo::ui {

class FileTypes : public FileTypeProvider {
 public:
  FileTypes();
  ~FileTypes() override;

  // Index 0 (the generic file icon) for a file whose MIME type has no
  // icon name; always true.
  bool IconIndex(const std::string& native_path, std::int32_t* icon) const override;
  // The MIME type's comment ("plain text document"); for a folder, the
  // folder type's comment; for a name that matches no type, its extension
  // in capitals and " File". False for such a name without an extension.
  bool TypeName(const std::string& native_path, std::string* type) const override;
  // No class registry on this desktop: always false.
  bool ExtensionClassDescription(const std::string& extension,
                                 std::string* description) const override;

  // The icon of an index from IconIndex; a null icon for an unknown index.
  // GUI thread only. Each icon is made once, from the icon theme (the icon
  // name, then its generic name) or, when the theme has neither, the
  // style's standard file or folder icon.
  QIcon Icon(std::int32_t index) const;

  // Distinct icon names met so far.
  int IconCount() const;

 private:
  struct IconEntry {
    QString name;
    QString generic_name;
    bool folder = false;
  };
  QMimeType TypeOf(const std::string& native_path) const;

  QMimeDatabase mime_;
  mutable platform::Mutex mutex_;
  mutable std::vector<IconEntry> entries_ GUARDED_BY(mutex_);
  mutable std::unordered_map<QString, std::int32_t> by_name_ GUARDED_BY(mutex_);
  // The last file (not folder) typed, and its type.
  mutable std::string last_file_path_ GUARDED_BY(mutex_);
  mutable QMimeType last_file_type_ GUARDED_BY(mutex_);
  mutable std::vector<QIcon> icons_;  // GUI thread; parallel to entries_
};

}  // namespace quindelo::ui
