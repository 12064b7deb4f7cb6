#include "ui/plain_text_boxes.h"
#include "ui/drive_list.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QListView>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <vector>

#include "index/drive_query.h"
#include "platform/drive_table.h"
#include "platform/paths.h"
#include "ui/native_text.h"

namespace quindelo::ui {
namespace {

constexpr std::size_t kDriveEntryTextMax = 127;
constexpr char kCaption[] = "Pemblet Quindelo";

const char* KindLabel(DriveKind kind) {
  switch (kind) {
    case DriveKind::kFloppy:
      return "Floppy";
    case DriveKind::kNetwork:
      return "Network";
    case DriveKind::kCdRom:
      return "CD-ROM";
    case DriveKind::kFixedDisk:
      break;
  }
  return "";
}

// The box's own delegate, with entries at least as tall as a drive picture
// plus a pixel, so that pictures never overlap the next entry.
class EntryHeightDelegate : public QAbstractItemDelegate {
 public:
  EntryHeightDelegate(QAbstractItemDelegate* inner, const QComboBox* box)
      : QAbstractItemDelegate(box->view()), inner_(inner), box_(box) {
    inner_->setParent(this);
  }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    inner_->paint(painter, option, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = inner_->sizeHint(option, index);
    size.setHeight(std::max(size.height(), DriveEntryMinimumHeight(*box_)));
    return size;
  }

 private:
  QAbstractItemDelegate* inner_;
  const QComboBox* box_;
};

}  // namespace

int DriveEntryMinimumHeight(const QComboBox& box) { return box.iconSize().height() + 1; }

DriveKind KindOfDriveType(std::uint32_t type) {
  switch (type) {
    case platform::kDriveRemovable:
      return DriveKind::kFloppy;
    case platform::kDriveRemote:
      return DriveKind::kNetwork;
    case platform::kDriveCdRom:
      return DriveKind::kCdRom;
    default:
      return DriveKind::kFixedDisk;
  }
}

std::string DriveEntryText(const DriveDescription& drive) {
  std::string text = drive.root_text() + " ";
  const std::string remote = drive.remote_name();
  const std::string label = drive.label();
  if (!remote.empty()) {
    text += remote;
  } else if (!label.empty()) {
    text += "[" + label + "]";
  } else {
    text += KindLabel(KindOfDriveType(drive.type()));
  }
  if (text.size() > kDriveEntryTextMax) text.resize(kDriveEntryTextMax);
  return text;
}

QIcon DriveKindIcon(DriveKind kind, const QStyle* style) {
  if (!style) style = QApplication::style();
  switch (kind) {
    case DriveKind::kFloppy:
      return style->standardIcon(QStyle::SP_DriveFDIcon);
    case DriveKind::kNetwork:
      return style->standardIcon(QStyle::SP_DriveNetIcon);
    case DriveKind::kCdRom:
      return style->standardIcon(QStyle::SP_DriveCDIcon);
    case DriveKind::kFixedDisk:
      break;
  }
  return style->standardIcon(QStyle::SP_DriveHDIcon);
}

int DriveEntryCount(const QComboBox* box) {
  int count = 0;
  for (int i = 0; i < box->count(); ++i)
    if (box->itemData(i, kDriveKindRole).isValid()) ++count;
  return count;
}

int RebuildDriveEntries(QComboBox* box) {
  const QString text = box->currentText();
  int added = 0;
  QString c_entry;
  {
    // Replacing items moves the current index and with it an editable box's
    // text; the form must see no edit from that.
    const QSignalBlocker blocker(box);
    for (int i = box->count() - 1; i >= 0; --i)
      if (box->itemData(i, kDriveKindRole).isValid()) box->removeItem(i);

    // The query's cursor goes on past a drive whose query fails (a mapped
    // letter whose folder is gone), so one such drive hides no others.
    std::uint16_t cursor = 0;
    DriveDescription drive;
    do {
      if (!NextDrive(&cursor, &drive, false)) continue;
      const QString entry = FromNative(DriveEntryText(drive));
      const DriveKind kind = KindOfDriveType(drive.type());
      box->insertItem(added, DriveKindIcon(kind, box->style()), entry);
      box->setItemData(added, static_cast<int>(kind), kDriveKindRole);
      if (drive.root_text() == "C:") c_entry = entry;
      ++added;
    } while (cursor != 0);

    if (box->isEditable()) box->setEditText(text);
    if (!text.isEmpty()) {
      const int match = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
      if (match >= 0) box->setCurrentIndex(match);
    }
  }
  if (text.isEmpty() && !c_entry.isEmpty()) {
    if (box->isEditable()) {
      box->setEditText(c_entry);
    } else {
      box->setCurrentIndex(box->findText(c_entry));
    }
  }
  return added;
}

LookInBox::LookInBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  // Drive entries carry a picture and history entries none: every entry
  // gets the same height all the same.
  if (auto* list = qobject_cast<QListView*>(view())) list->setUniformItemSizes(true);
  if (QAbstractItemDelegate* own = view()->itemDelegate())
    view()->setItemDelegate(new EntryHeightDelegate(own, this));
}

void LookInBox::showPopup() {
  RebuildDriveEntries(this);
  QComboBox::showPopup();
}

std::optional<std::string> LookInAfterBrowse(const std::string& look_in,
                                             const std::string& chosen_native,
                                             std::string* refusal) {
  std::string chosen;
  if (!platform::ToDrivePath(chosen_native, &chosen)) {
    *refusal = "Quindelo cannot look in \"" + chosen_native +
               "\": the folder lies on no drive, or a name in its path holds a backslash.";
    return std::nullopt;
  }
  if (chosen.size() > kLookInTextMax) {
    *refusal = "Quindelo cannot look in \"" + chosen_native + "\": its path is longer than " +
               std::to_string(kLookInTextMax) + " characters.";
    return std::nullopt;
  }
  // A drive root (such as D:\) looks in the whole drive: nothing of the old
  // text stays.
  if (chosen.size() <= 3) return chosen;
  const std::size_t semicolon = look_in.rfind(';');
  if (semicolon == std::string::npos) return chosen;
  std::string joined = look_in.substr(0, semicolon + 1) + chosen;
  if (joined.size() > kLookInTextMax) return chosen;
  return joined;
}

std::optional<QString> BrowseLookIn(QWidget* parent, const QString& look_in) {
  // Start at the last folder of the text when it names one.
  const std::string text = ToNative(look_in);
  const std::size_t semicolon = text.rfind(';');
  std::string last = semicolon == std::string::npos ? text : text.substr(semicolon + 1);
  std::string start;
  if (!platform::ToNativePath(last, &start) || !QFileInfo(FromNative(start)).isDir())
    start.clear();
  const QString chosen =
      QFileDialog::getExistingDirectory(parent, FromUtf8(kBrowseLookInTitle), FromNative(start));
  if (chosen.isEmpty()) return std::nullopt;
  std::string refusal;
  const std::optional<std::string> next = LookInAfterBrowse(text, ToNative(chosen), &refusal);
  if (!next) {
    ShowPlainWarning(parent, FromUtf8(kCaption), FromNative(refusal));
    return std::nullopt;
  }
  return FromNative(*next);
}

}  // namespace quindelo::ui
