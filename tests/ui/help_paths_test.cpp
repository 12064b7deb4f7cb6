// The Quick Start page is found beside an installed program before the
// source tree's copy, and has a section for every topic the form asks for.
#include "ui/help_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ui/qt_app.h"

namespace quindelo::ui {
namespace {

TEST(HelpPathsTest, PageFoundInstalledFirstThenInTheSourceTreeWithEveryTopic) {
  test::QtApp();
  QTemporaryDir prefix;
  ASSERT_TRUE(QDir(prefix.path()).mkpath("bin"));
  const QString from_source = QuickStartPagePath(prefix.filePath("bin"));
  ASSERT_FALSE(from_source.isEmpty());
  EXPECT_TRUE(from_source.endsWith("/data/help/index.html")) << from_source.toStdString();

  ASSERT_TRUE(QDir(prefix.path()).mkpath("share/quindelo/help"));
  QFile installed(prefix.filePath("share/quindelo/help/index.html"));
  ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
  installed.write("<html></html>");
  installed.close();
  EXPECT_EQ(QuickStartPagePath(prefix.filePath("bin")),
            QFileInfo(installed.fileName()).canonicalFilePath());

  // Every topic the form asks for has its section and an entry in the
  // page's contents.
  QFile page(from_source);
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  const QByteArray html = page.readAll();
  for (const char* topic : help_topic::kAll) {
    EXPECT_TRUE(html.contains(QByteArray("id=\"") + topic + "\"")) << topic;
    if (topic != help_topic::kQuickStart) {  // the page's top needs no entry
      EXPECT_TRUE(html.contains(QByteArray("href=\"#") + topic + "\"")) << topic;
    }
  }
}

}  // namespace
}  // namespace quindelo::ui
