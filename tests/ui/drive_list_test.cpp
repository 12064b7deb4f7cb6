// Drive entries of the look-in box: their labels, their order above the
// history, rebuilds without duplicates, the box's text kept or filled with
// C:, and the look-in text after Browse.
#include "ui/drive_list.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>
#include <QStyle>
#include <string>
#include <vector>

#include "platform/drive_table.h"
#include "support/test_env.h"
#include "ui/native_text.h"
#include "ui/qt_app.h"
#include "ui/scaled_run.h"

namespace quindelo::ui {
namespace {

using test::ScopedTestEnv;

DriveDescription Drive(const char* root, std::uint32_t type, const std::string& remote,
                       const std::string& label) {
  DriveDescription d;
  d.set_root_text(root);
  d.set_type(type);
  d.set_remote_name(remote);
  d.set_label(label);
  return d;
}

TEST(DriveListTest, EntryTextNamesTheDriveAndWhatTellsItApart) {
  struct Case {
    DriveDescription drive;
    std::string text;
    DriveKind kind;
  };
  const Case cases[] = {
      {Drive("A:", platform::kDriveRemovable, "", ""), "A: Floppy", DriveKind::kFloppy},
      {Drive("C:", platform::kDriveFixed, "", "SYSTEM"), "C: [SYSTEM]", DriveKind::kFixedDisk},
      {Drive("C:", platform::kDriveFixed, "", ""), "C: ", DriveKind::kFixedDisk},
      {Drive("D:", platform::kDriveCdRom, "", ""), "D: CD-ROM", DriveKind::kCdRom},
      {Drive("F:", platform::kDriveRemote, "server:/export/share", ""), "F: server:/export/share",
       DriveKind::kNetwork},
      {Drive("G:", platform::kDriveRemote, "", ""), "G: Network", DriveKind::kNetwork},
      // the remote name wins over a label
      {Drive("H:", platform::kDriveRemote, "//nas/music", "MUSIC"), "H: //nas/music",
       DriveKind::kNetwork},
      {Drive("R:", platform::kDriveRamDisk, "", ""), "R: ", DriveKind::kFixedDisk},
      {Drive("S:", 9, "", "ODD"), "S: [ODD]", DriveKind::kFixedDisk},
      // an 80-byte remote name still fits; the entry is cut at 127 bytes
      {Drive("N:", platform::kDriveRemote, std::string(80, 'r'), ""), "N: " + std::string(80, 'r'),
       DriveKind::kNetwork},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DriveEntryText(c.drive), c.text);
    EXPECT_EQ(KindOfDriveType(c.drive.type()), c.kind);
  }
  test::QtApp();
  EXPECT_FALSE(DriveKindIcon(DriveKind::kCdRom, nullptr).isNull());
}

struct Entry {
  std::string text;
  bool drive;
};

std::vector<Entry> Entries(const QComboBox& box) {
  std::vector<Entry> out;
  for (int i = 0; i < box.count(); ++i)
    out.push_back({ToNative(box.itemText(i)), box.itemData(i, kDriveKindRole).isValid()});
  return out;
}

// What the platform says of a drive's label, to form the expected text.
std::string ExpectedText(char letter) {
  platform::DriveEntry entry;
  platform::LookUpDrive(letter, &entry, true);
  std::string text = std::string(1, letter) + ": ";
  if (!entry.label.empty()) text += "[" + entry.label + "]";
  return text;
}

// The whole life of the box: first build with an empty text, history added
// below, repeated drop-downs, a drive that appears and one whose folder goes.
TEST(DriveListTest, DriveEntriesStayOnTopInLetterOrderWithoutDuplicates) {
  test::QtApp();
  ScopedTestEnv env;
  env.MakeDrive('E', "e");
  env.MakeDrive('C', "c");
  const std::string gone = env.MakeDrive('B', "b");

  LookInBox box;
  QSignalSpy edits(&box, &QComboBox::editTextChanged);
  EXPECT_EQ(RebuildDriveEntries(&box), 3);
  EXPECT_EQ(ToNative(box.currentText()), ExpectedText('C'));  // empty box takes C:
  EXPECT_EQ(edits.size(), 1);
  box.addItem("C:\\Work");  // history below the drives
  box.addItem("E:\\src");
  box.setEditText("E:\\src");

  test::RemoveTree(gone);              // B: no longer answers, C: to E: still listed
  env.MakeDrive('D', "d");             // D: appears
  edits.clear();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(RebuildDriveEntries(&box), 3);
    const std::vector<Entry> entries = Entries(box);
    ASSERT_EQ(entries.size(), 5u);
    const std::string expected[] = {ExpectedText('C'), ExpectedText('D'), ExpectedText('E'),
                                    "C:\\Work", "E:\\src"};
    for (std::size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(entries[i].text, expected[i]);
      EXPECT_EQ(entries[i].drive, i < 3);
    }
    EXPECT_EQ(DriveEntryCount(&box), 3);
    // The typed text is kept and its history entry becomes current, with no
    // edit announced to the form.
    EXPECT_EQ(box.currentText(), QStringLiteral("E:\\src"));
    EXPECT_EQ(box.currentIndex(), 4);
    EXPECT_EQ(edits.size(), 0);
  }
  // A text the user typed that is no entry stays as typed.
  box.setEditText("C:\\Wo");
  RebuildDriveEntries(&box);
  EXPECT_EQ(box.currentText(), QStringLiteral("C:\\Wo"));
  EXPECT_EQ(DriveEntryCount(&box), 3);
}

// Drive pictures never overlap the next entry: every entry, drive or
// history, is at least a picture plus a pixel tall, at scale 1 and (in a
// process of its own) at scale 2.
TEST(DriveListTest, EntriesAreTallerThanTheirPictures) {
  test::QtApp();
  EXPECT_DOUBLE_EQ(test::ScaleOfThisRun(), qApp->devicePixelRatio());
  ScopedTestEnv env;
  env.MakeDrive('C', "c");
  env.MakeDrive('D', "d");
  LookInBox box;
  box.addItem("C:\\Work");
  box.resize(300, box.sizeHint().height());
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  box.showPopup();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(box.view()->window()));
  ASSERT_EQ(DriveEntryCount(&box), 2);
  const int picture = box.iconSize().height();
  EXPECT_EQ(picture + 1, DriveEntryMinimumHeight(box));
  const QIcon drawn = box.itemIcon(0);
  ASSERT_FALSE(drawn.isNull());
  const int drawn_height = drawn.actualSize(box.iconSize()).height();
  for (int entry = 0; entry < box.count(); ++entry) {
    const QRect rect = box.view()->visualRect(box.model()->index(entry, 0));
    EXPECT_GE(rect.height(), picture + 1) << "entry " << entry;
    EXPECT_GT(rect.height(), drawn_height) << "entry " << entry;
  }
  box.hidePopup();
  EXPECT_TRUE(test::RunScaled("2"));
}

TEST(DriveListTest, BrowsedFolderReplacesTheLastLookInElement) {
  ScopedTestEnv env;
  const std::string c = env.MakeDrive('C', "c");
  const std::string d = env.MakeDrive('D', "d");
  const std::string outside = env.Path("outside");
  test::MakeFolder(outside);
  test::MakeFolder(c + "/Work");
  const std::string deep = c + "/" + std::string(200, 'x');
  struct Case {
    std::string look_in;
    std::string chosen;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"C:\\Windows;C:\\Temp", d, "D:\\"},
      {"C:\\Windows;C:\\Temp", c + "/Work", "C:\\Windows;C:\\Work"},
      {"C:\\Windows", c + "/Work", "C:\\Work"},
      {"", c + "/Work/", "C:\\Work"},
      {"C:\\Windows;", c + "/Work", "C:\\Windows;C:\\Work"},
      // joined it would pass 259 bytes: the chosen folder alone
      {std::string(100, 'a') + ";C:\\b", deep, "C:\\" + std::string(200, 'x')},
      {"C:\\Windows", deep + "/" + std::string(60, 'y'), std::nullopt},  // too long alone
      {"C:\\Windows", outside, std::nullopt},                            // on no drive
      {"C:\\Windows", c + "/back\\slash", std::nullopt},
  };
  for (const Case& c_ : cases) {
    SCOPED_TRACE(c_.look_in + " <- " + c_.chosen);
    std::string refusal;
    EXPECT_EQ(LookInAfterBrowse(c_.look_in, c_.chosen, &refusal), c_.expected);
    EXPECT_EQ(refusal.empty(), c_.expected.has_value());
  }
}

}  // namespace
}  // namespace quindelo::ui
