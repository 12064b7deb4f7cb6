// Native paths in the window, as a user meets them: a native folder typed
// into the look-in box is searched, the Folder column, the look-in box and
// the messages show native paths, Options > Native Paths turns drive paths
// back on (and off again) at once, and saved finds and the history keep
// the drive form.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "app/native_paths.h"
#include "app/settings_store.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/qt_app.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using test::QtApp;
using test::RunUntil;

QString FolderCell(FindForm* form, int row) {
  const int column = form->results_view()->results()->ModelColumn(kColumnFolder);
  return form->results_view()->model()->index(row, column).data().toString();
}

void TypeInto(QComboBox* box, const std::string& text) {
  box->setFocus();
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), QString::fromStdString(text));
}

TEST(NativePathsWindowTest, NativeFoldersAreTypedShownAndStoredInDriveForm) {
  QtApp();
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  test::MakeFolder(root + "/docs");
  test::WriteTextFile(root + "/docs/alpha.txt", "a");
  test::WriteTextFile(root + "/other.txt", "o");
  SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
  ASSERT_TRUE(WriteNativePathsOption(true));

  MainFrame frame(test::QuickOptions());
  frame.set_warning_handler([](const QString&) {});
  frame.set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
  frame.Start("");
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  FindForm* form = frame.form();
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  frame.UpdateCommands();
  EXPECT_TRUE(frame.action(kCmdNativePaths)->isChecked());
  // The start text of drive form is shown natively.
  EXPECT_EQ(form->look_in_box()->currentText().toStdString(), root);

  // A native folder is searched, and the rows show where they are natively.
  TypeInto(form->look_in_box(), root + "/docs");
  TypeInto(form->named_box(), "*.txt");
  ASSERT_TRUE(RunUntil([&] { return form->status_text() == "Found one file."; }))
      << form->status_text().toStdString();
  EXPECT_EQ(FolderCell(form, 0).toStdString(), root + "/docs");
  // What is saved is the drive form.
  EXPECT_EQ(form->CaptureFind().look_in, "T:\\docs");

  // A missing folder is named natively in the message.
  // (Each prefix typed on the way is judged too; the whole text's verdict
  // comes last.)
  TypeInto(form->look_in_box(), root + "/nowhere");
  const std::string missing = "Folder \"" + root + "/nowhere\" does not exist!";
  ASSERT_TRUE(RunUntil([&] {
    return form->status_text().toStdString() == missing && form->indicator_text() == "ERR";
  })) << form->status_text().toStdString();

  // Drive paths at once, from the Options menu; and native again.
  TypeInto(form->look_in_box(), root + "/docs");
  TypeInto(form->named_box(), "alpha*");
  ASSERT_TRUE(RunUntil([&] {
    return form->status_text() == "Found one file." && form->RowCount() == 1 &&
           std::string(form->RowRecord(0)->name()) == "alpha.txt";
  })) << form->status_text().toStdString();
  frame.action(kCmdNativePaths)->trigger();
  EXPECT_FALSE(form->native_paths());
  EXPECT_FALSE(ReadNativePathsOption());
  EXPECT_EQ(FolderCell(form, 0).toStdString(), "T:\\docs");
  EXPECT_EQ(form->look_in_box()->currentText().toStdString(), "T:\\docs");
  // A native folder is still taken while drive paths are shown.
  TypeInto(form->look_in_box(), root);
  TypeInto(form->named_box(), "other*");
  ASSERT_TRUE(RunUntil([&] {
    return form->status_text() == "Found one file." && form->RowCount() == 1 &&
           std::string(form->RowRecord(0)->name()) == "other.txt";
  })) << form->status_text().toStdString();
  EXPECT_EQ(FolderCell(form, 0).toStdString(), "T:\\");
  frame.action(kCmdNativePaths)->trigger();
  EXPECT_TRUE(ReadNativePathsOption());
  EXPECT_EQ(FolderCell(form, 0).toStdString(), root);
  EXPECT_EQ(form->look_in_box()->currentText().toStdString(), root);

  // The history reaches the settings in drive form.
  form->look_in_box()->setFocus();
  TypeInto(form->look_in_box(), root + "/docs");
  form->named_box()->setFocus();
  frame.close();
  ASSERT_TRUE(RunUntil([&] { return form->closed(); }));
  std::vector<std::string> history;
  SettingsStore().ReadList(settings::kControls, settings::kLookInHistory, &history);
  for (const std::string& entry : history) EXPECT_EQ(entry.find('/'), std::string::npos) << entry;
  std::string look_in;
  SettingsStore().ReadString(settings::kControls, settings::kLookIn, &look_in);
  EXPECT_EQ(look_in, "T:\\docs");
}

}  // namespace
}  // namespace quindelo::ui
