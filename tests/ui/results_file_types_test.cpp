// Type texts and icons of found files: by name only, folders by what they
// are, links never followed, one icon per icon name.
#include "ui/file_types.h"

#include <QMimeDatabase>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "results_fixture.h"

namespace quindelo::ui {
namespace {

using testing::ResultsFixture;

TEST(FileTypes, TypeTextsComeFromTheNameOrTheFolderType) {
  enum Kind { kFile, kFolder, kLinkToFolder };
  const struct {
    const char* name;
    Kind kind;
    const char* contents;
    const char* mime_type;  // whose comment is the type text; null: empty text
  } kCases[] = {
      {"notes.txt", kFile, "plain words", "text/plain"},
      {"NOTES.TXT", kFile, "plain words", "text/plain"},
      // The contents are never read: a PNG named .txt is text.
      {"picture.txt", kFile, "\x89PNG\r\n\x1a\n", "text/plain"},
      {"picture.png", kFile, "not a picture", "image/png"},
      {"README", kFile, "plain words", "text/x-readme"},
      {"notes", kFile, "plain words", nullptr},
      {"data.qqqunknown", kFile, "", nullptr},
      {"sub", kFolder, nullptr, "inode/directory"},
      {"archive.zip", kFolder, nullptr, "inode/directory"},
      {"folderlink", kLinkToFolder, nullptr, nullptr},
  };
  const QMimeDatabase mime;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ResultsFixture fixture;
    FileTypes types;
    fixture.pool()->set_type_provider(&types);
    FoundFile* record = nullptr;
    switch (c.kind) {
      case kFile:
        record = fixture.File(c.name);
        test::WriteTextFile(fixture.Native(c.name), c.contents);
        break;
      case kFolder:
        record = fixture.Folder(c.name);
        break;
      case kLinkToFolder:
        fixture.Folder("target");
        ASSERT_EQ(0, symlink(fixture.Native("target").c_str(), fixture.Native(c.name).c_str()));
        record = fixture.Record(c.name);
        break;
    }
    FetchFileDetails(record, FileDetail::kType, fixture.pool());
    const std::string expected =
        c.mime_type ? mime.mimeTypeForName(c.mime_type).comment().toStdString() : "";
    if (c.mime_type) {
      ASSERT_FALSE(expected.empty());
    }
    EXPECT_EQ(expected, record->type);
  }
}

TEST(FileTypes, OneIconPerIconNameAndNoneLostForFilesWithoutAType) {
  ResultsFixture fixture;
  FileTypes types;
  fixture.pool()->set_type_provider(&types);
  auto icon_of = [&](FoundFile* record) {
    FetchFileDetails(record, FileDetail::kIcon, fixture.pool());
    return record->icon;
  };
  const std::int32_t text_a = icon_of(fixture.File("a.txt"));
  const std::int32_t text_b = icon_of(fixture.File("sub\\b.txt"));
  const std::int32_t png = icon_of(fixture.File("c.png"));
  const std::int32_t folder = icon_of(fixture.Folder("sub2"));
  const std::int32_t unknown = icon_of(fixture.File("d.qqqunknown"));
  EXPECT_EQ(text_a, text_b);
  EXPECT_NE(text_a, png);
  EXPECT_NE(folder, text_a);
  EXPECT_NE(folder, png);
  for (std::int32_t index : {text_a, png, folder, unknown}) {
    EXPECT_GE(index, 0);
    EXPECT_LT(index, types.IconCount());
    EXPECT_FALSE(types.Icon(index).isNull()) << index;
  }
  EXPECT_TRUE(types.Icon(types.IconCount()).isNull());
  EXPECT_TRUE(types.Icon(-1).isNull());
}

}  // namespace
}  // namespace quindelo::ui
