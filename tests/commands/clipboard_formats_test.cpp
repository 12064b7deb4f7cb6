// The clipboard and drag formats for selected files: every byte of a name
// survives the trip through a URI and back, Copy and Cut say which they are
// in the GNOME and KDE formats, and a uri-list from elsewhere parses to the
// local paths it names.
#include "commands/clipboard_formats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quindelo::commands {
namespace {

TEST(FileUri, EscapesEveryByteThatNeedsItAndParsesBack) {
  struct Case {
    std::string path;
    std::string uri;
  } cases[] = {
      {"/home/ann/notes.txt", "file:///home/ann/notes.txt"},
      {"/a b/c%d#e?f", "file:///a%20b/c%25d%23e%3Ff"},
      {"/q\"uote';$x&y", "file:///q%22uote%27%3B%24x%26y"},
      {"/line\nbreak\r", "file:///line%0Abreak%0D"},
      {"/caf\xc3\xa9", "file:///caf%C3%A9"},
      {std::string("/bad\xff\xfe\x80"), "file:///bad%FF%FE%80"},
      {"/", "file:///"},
      {"/~user/a-b_c.d", "file:///~user/a-b_c.d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.uri, FileUri(c.path));
    std::string back;
    ASSERT_TRUE(NativePathOfUri(c.uri, &back)) << c.uri;
    EXPECT_EQ(c.path, back);
  }
  // Every byte value but NUL, in one name.
  std::string all = "/";
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(NativePathOfUri(FileUri(all), &back));
  EXPECT_EQ(all, back);

  struct Foreign {
    const char* uri;
    const char* path;  // null: not a local file
  } foreign[] = {
      {"file://localhost/etc/hosts", "/etc/hosts"},
      {"FILE:/etc/a%4a", "/etc/aJ"},
      {"file:///etc/a%2fb", nullptr},
      {"file:///x%41", "/xA"},
      {"file://otherhost/etc/hosts", nullptr},
      {"file://localhostx/etc", nullptr},
      {"http://example.com/a", nullptr},
      {"file:///nul%00byte", nullptr},
      {"file:///bad%zz", nullptr},
      {"file:///cut%4", nullptr},
      {"file:///cut%", nullptr},
      {"file:relative", nullptr},
      {"file://", nullptr},
  };
  for (const Foreign& f : foreign) {
    std::string path = "unchanged";
    EXPECT_EQ(f.path != nullptr, NativePathOfUri(f.uri, &path)) << f.uri;
    EXPECT_EQ(f.path != nullptr ? f.path : "unchanged", path) << f.uri;
  }
}

TEST(ClipboardData, CopyAndCutInEveryFormat) {
  std::vector<std::string> paths = {"/d/a.txt", "/d/b c.txt", "/d/line\nbreak"};
  ClipboardData copy = BuildClipboardData(paths, ClipboardAction::kCopy);
  EXPECT_EQ("/d/a.txt\n/d/b c.txt\n/d/line\nbreak", copy.text);
  EXPECT_EQ("file:///d/a.txt\r\nfile:///d/b%20c.txt\r\nfile:///d/line%0Abreak\r\n", copy.uri_list);
  EXPECT_EQ("copy\nfile:///d/a.txt\nfile:///d/b%20c.txt\nfile:///d/line%0Abreak", copy.gnome_copied);
  EXPECT_EQ("", copy.kde_cut);
  EXPECT_EQ(paths, ParseUriList(copy.uri_list));

  ClipboardData cut = BuildClipboardData({"/one"}, ClipboardAction::kCut);
  EXPECT_EQ("/one", cut.text);  // one file: no line break
  EXPECT_EQ("cut\nfile:///one", cut.gnome_copied);
  EXPECT_EQ("1", cut.kde_cut);

  std::vector<std::string> many;
  for (int i = 0; i < 10000; ++i) many.push_back("/m/f " + std::to_string(i));
  EXPECT_EQ(many, ParseUriList(BuildClipboardData(many, ClipboardAction::kCopy).uri_list));
}

TEST(ParseUriList, LeavesOutCommentsBlankLinesAndWhatIsNotLocal) {
  EXPECT_EQ((std::vector<std::string>{"/a", "/b c", "/d"}),
            ParseUriList("# comment\r\nfile:///a\r\n\r\nhttp://x/y\nfile:///b%20c\nfile:///d"));
  EXPECT_TRUE(ParseUriList("").empty());
  EXPECT_TRUE(ParseUriList("\r\n\n#only\n").empty());
}

}  // namespace
}  // namespace quindelo::commands
