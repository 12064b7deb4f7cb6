// The drive entries of the look-in box and its Browse button.
//
// The look-in box lists one entry per drive above its history entries, in
// drive-letter order, each with a picture of its kind and a label that tells
// the drives apart ("C: [SYSTEM]", "A: Floppy", "D: CD-ROM", "F: server:/share").
// Drive entries carry their drive kind under kDriveKindRole; history entries
// carry nothing there, which is how a rebuild finds the old drive entries
// wherever they stand, so rebuilding never duplicates them.
//
// How the find form uses this file:
//   - make the look-in box a LookInBox (an editable QComboBox that rebuilds
//     its drive entries each time it drops down), and call
//     RebuildDriveEntries() once at the form's first update;
//   - the Browse button ("&Browse...") calls BrowseLookIn(form, box text);
//     when it returns a text, the form puts it into the box, adds it to the
//     look-in history and validates it.
//
// Threads: GUI thread only.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "index/drive_description.h"

class QStyle;
class QWidget;

namespace quindelo::ui {

// Item data role of drive entries: the entry's DriveKind as an int.
inline constexpr int kDriveKindRole = Qt::UserRole + 0x51;

enum class DriveKind { kFloppy, kFixedDisk, kNetwork, kCdRom };

// The kind shown for a drive type (removable, fixed, remote, CD-ROM; RAM
// disks and other types count as fixed disks).
DriveKind KindOfDriveType(std::uint32_t type);
// The entry's text: the drive, a blank, then the remote name, else the
// volume label in brackets, else the kind's own label ("Floppy", "Network",
// "CD-ROM", none for a fixed disk); at most 127 bytes.
std::string DriveEntryText(const DriveDescription& drive);
// Qt's standard picture of a drive kind.
QIcon DriveKindIcon(DriveKind kind, const QStyle* style);

// Replaces the drive entries of box with the drives of the drive query (volume
// not read), at the top, in letter order. The box's text is kept; when it was
// empty it becomes the C: entry's text (announced by editTextChanged, like an
// edit); when the text equals an entry, that entry becomes current. Returns
// the number of drive entries.
int RebuildDriveEntries(QComboBox* box);
// The number of drive entries box holds now.
int DriveEntryCount(const QComboBox* box);

// The least height of an entry of box: its icon's height plus 1 (every
// entry has it, drive entries and history entries alike).
int DriveEntryMinimumHeight(const QComboBox& box);

// The look-in box: rebuilds its drive entries each time it drops down.
class LookInBox : public QComboBox {
  Q_OBJECT

 public:
  explicit LookInBox(QWidget* parent = nullptr);
  void showPopup() override;
};

// Title of the Browse folder picker.
inline constexpr char kBrowseLookInTitle[] = "Select folder to look in for finding files.";
// Longest look-in text, in bytes.
inline constexpr std::size_t kLookInTextMax = 259;

// The look-in text after a folder was chosen with Browse: the chosen folder
// (a native path) as a drive path replaces the last element of look_in (the
// part after its last semicolon, else the whole text); a drive root replaces
// the whole text. When the joined text would pass kLookInTextMax, the chosen
// folder alone is the new text. None, with *refusal set to the message, when
// the folder lies on no drive, its path holds a backslash, or it alone is too
// long.
std::optional<std::string> LookInAfterBrowse(const std::string& look_in,
                                             const std::string& chosen_native,
                                             std::string* refusal);

// Browse: the folder picker with kBrowseLookInTitle, opened at the look-in
// text's last folder when it exists. None when nothing was chosen or the
// folder was refused (the refusal is shown in a warning box, caption
// "Pemblet Quindelo"); otherwise the new look-in text.
std::optional<QString> BrowseLookIn(QWidget* parent, const QString& look_in);

}  // namespace quindelo::ui
