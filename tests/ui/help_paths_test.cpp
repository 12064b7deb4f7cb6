// The Quick Start page is found beside an installed program before the
// source tree's copy, has a section for every topic the form asks for, and
// says what the form does.
#include "ui/help_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTemporaryDir>

#include "app/settings_store.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/qt_app.h"
#include "ui/results_model.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

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

// The page's Named section against the form: "*" lists every name, an
// emptied box lists nothing and says "Ready.", with Containing disabled.
TEST(HelpPathsTest, NamedSectionSaysWhatAnEmptyBoxAndAStarFind) {
  test::QtApp();
  QFile page(QuickStartPagePath(QString()));
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  const QString html = QString::fromUtf8(page.readAll());
  const qsizetype named = html.indexOf("id=\"named\"");
  ASSERT_GE(named, 0);
  const QString section = html.mid(named, html.indexOf("<h2", named) - named).simplified();
  EXPECT_FALSE(section.contains("empty to find every name")) << section.toStdString();
  EXPECT_TRUE(section.contains("An empty box finds nothing")) << section.toStdString();
  EXPECT_TRUE(section.contains("\"Ready.\"")) << section.toStdString();
  EXPECT_TRUE(section.contains("To list every name, type <code>*</code>")) << section.toStdString();

  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/one.txt", "1");
  test::WriteTextFile(root + "/two.txt", "2");
  SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
  MainFrame frame(test::QuickOptions());
  frame.Start("");
  frame.show();
  FindForm* form = frame.form();
  ASSERT_TRUE(test::RunUntil([&] { return form->named_box()->isEnabled(); }));
  QLineEdit* named_edit = form->named_box()->lineEdit();
  named_edit->setFocus();
  QTest::keyClicks(named_edit, "*");
  ASSERT_TRUE(test::RunUntil([&] { return form->status_text() == "Found 2 files."; }));
  EXPECT_EQ(form->results_view()->results()->RowCount(), 2);
  EXPECT_TRUE(form->containing_box()->isEnabled());
  QTest::keyClick(named_edit, Qt::Key_Backspace);
  ASSERT_TRUE(test::RunUntil([&] { return form->status_text() == "Ready."; }));
  EXPECT_EQ(form->results_view()->results()->RowCount(), 0);
  EXPECT_FALSE(form->containing_box()->isEnabled());
  frame.set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
  frame.close();
  ASSERT_TRUE(test::RunUntil([&] { return form->closed(); }));
}

}  // namespace
}  // namespace quindelo::ui
