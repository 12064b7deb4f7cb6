// The desktop's applications through GIO, over a private desktop: the MIME
// type of files by name and by content, the default application of a type
// with its Exec value, and every application listed for a type.
#include "platform/desktop_apps.h"

#include <gtest/gtest.h>

#include "support/fake_desktop.h"
#include "support/test_env.h"

namespace quindelo::platform {
namespace {

TEST(DesktopAppsTest, TypesOfFilesByNameAndContent) {
  const test::FakeDesktop& desktop = test::InstallFakeDesktop();
  const std::string folder = desktop.root + "/typed";
  test::MakeFolder(folder);
  test::WriteTextFile(folder + "/notes.txt", "plain words\n");
  test::WriteTextFile(folder + "/no name ext", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n");
  test::WriteTextFile(folder + "/page.html", "<html><body>x</body></html>\n");
  const struct {
    std::string path;
    std::string type;
  } cases[] = {
      {folder + "/notes.txt", "text/plain"},
      {folder + "/no name ext", "application/pdf"},  // by content alone
      {folder + "/page.html", "text/html"},
      {folder, "inode/directory"},
      {folder + "/gone.txt", "text/plain"},  // by name: the file is not there
  };
  for (const auto& c : cases) EXPECT_EQ(FileMimeType(c.path), c.type) << c.path;
}

TEST(DesktopAppsTest, DefaultAndListedApplicationsOfATypeWithTheirExec) {
  const test::FakeDesktop& desktop = test::InstallFakeDesktop();
  DesktopApp app;
  ASSERT_TRUE(DefaultApplication("text/plain", &app));
  EXPECT_EQ(app.id, "quindelo-test-viewer.desktop");
  EXPECT_EQ(app.display_name, "Quindelo Test Viewer");
  EXPECT_EQ(app.icon_name, "text-x-generic");
  // The key file's escape is undone; the Exec quoting's is left for the
  // command template.
  EXPECT_EQ(app.exec, desktop.recorder + " \"--tag=a\\\\b\" --viewer %f");
  EXPECT_FALSE(app.terminal);

  std::vector<std::string> ids;
  for (const DesktopApp& listed : ApplicationsForType("text/plain")) {
    ids.push_back(listed.id);
    EXPECT_EQ(listed.terminal, listed.id == "quindelo-test-console.desktop");
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"quindelo-test-viewer.desktop",
                                           "quindelo-test-lister.desktop",
                                           "quindelo-test-console.desktop"}));

  // HTML pages: the browser names the type; a C source reaches the text
  // viewer only as plain text, its parent type, which does not count when
  // the type's own program is asked for.
  ASSERT_TRUE(DefaultApplicationNamingType("text/html", &app));
  EXPECT_EQ(app.id, "quindelo-test-browser.desktop");
  EXPECT_EQ(app.exec, desktop.browser + " --browser %u");
  ASSERT_TRUE(DefaultApplication("text/x-csrc", &app));
  EXPECT_EQ(app.id, "quindelo-test-viewer.desktop");
  EXPECT_FALSE(DefaultApplicationNamingType("text/x-csrc", &app));
  EXPECT_TRUE(DefaultApplicationNamingType("text/plain", &app));

  // A type that nothing handles has neither.
  EXPECT_FALSE(DefaultApplication("application/x-quindelo-unhandled", &app));
  EXPECT_TRUE(ApplicationsForType("application/x-quindelo-unhandled").empty());
  EXPECT_FALSE(DefaultApplication("image/png", &app));
}

}  // namespace
}  // namespace quindelo::platform
