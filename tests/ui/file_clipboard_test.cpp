// Copy, Cut and drag of the selected files: what the clipboard holds when
// read back, the Edit commands following the selection in the main window,
// and the data a drag out of the list offers.
#include "ui/file_clipboard.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "results_fixture.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/results_view.h"
#include "support/quick_options.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using commands::ClipboardAction;
using testing::ResultsFixture;

// Hostile names: a blank, quotes, a line break, UTF-8 and bytes that are not.
const std::vector<std::string> kNames = {"with space.txt", "quo\"te's.txt", "line\nbreak",
                                         "na\xc3\xafve.txt", "bad\xff\xfe.bin"};

struct ListFixture {
  ListFixture() {
    view.results()->SetResultSet(files.rows());
    ViewOptions options;
    options.sort_column = kColumnName;
    view.SetViewOptions(options);
    std::vector<ResultSet::Placed> inserts;
    for (std::size_t i = 0; i < kNames.size(); ++i)
      inserts.push_back({static_cast<int>(i), files.File("f\\" + kNames[i])});
    view.results()->result_set()->InsertPlaced(inserts);
  }
  void Select(const std::vector<int>& rows) {
    view.selectionModel()->clearSelection();
    for (int row : rows)
      view.selectionModel()->select(view.results()->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  std::string Native(int row) { return files.Native("f/" + kNames[static_cast<std::size_t>(row)]); }
  std::string Uri(int row) { return commands::FileUri(Native(row)); }

  ResultsFixture files;
  ResultsView view;
};

std::string Format(const QMimeData* data, const char* format) {
  const QByteArray bytes = data ? data->data(QString::fromLatin1(format)) : QByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TEST(FileClipboard, CopyAndCutPutEveryFormatOnTheClipboard) {
  const struct {
    ClipboardAction action;
    std::vector<int> rows;
  } cases[] = {
      {ClipboardAction::kCopy, {0}},
      {ClipboardAction::kCut, {1}},
      {ClipboardAction::kCopy, {4, 0, 2}},
      {ClipboardAction::kCut, {0, 1, 2, 3, 4}},
      {ClipboardAction::kCopy, {3}},
  };
  ListFixture list;
  for (const auto& c : cases) {
    const bool cut = c.action == ClipboardAction::kCut;
    list.Select(c.rows);
    std::vector<int> in_order = c.rows;
    std::sort(in_order.begin(), in_order.end());
    std::string text, uris, gnome = cut ? "cut" : "copy";
    for (std::size_t i = 0; i < in_order.size(); ++i) {
      text += (i ? "\n" : "") + list.Native(in_order[i]);
      uris += list.Uri(in_order[i]) + "\r\n";
      gnome += "\n" + list.Uri(in_order[i]);
    }
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(PutSelectionOnClipboard(list.view, c.action));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Format(data, commands::kMimeTextPlain), text);
    EXPECT_EQ(Format(data, commands::kMimeUriList), uris);
    EXPECT_EQ(Format(data, commands::kMimeGnomeCopiedFiles), gnome);
    EXPECT_EQ(data->hasFormat(commands::kMimeKdeCutSelection), cut);
    if (cut) {
      EXPECT_EQ(Format(data, commands::kMimeKdeCutSelection), "1");
    }
    // The URIs lead back to the very files, whatever bytes their names hold.
    std::vector<std::string> expected;
    for (int row : in_order) expected.push_back(list.Native(row));
    EXPECT_EQ(commands::ParseUriList(Format(data, commands::kMimeUriList)), expected);
  }
  // Nothing selected: the clipboard is left alone.
  list.Select({});
  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  EXPECT_FALSE(PutSelectionOnClipboard(list.view, ClipboardAction::kCopy));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

TEST(FileClipboard, DragOffersTheUrisOfTheSelection) {
  const struct {
    std::vector<int> rows;
  } cases[] = {{{2}}, {{3, 1}}, {{0, 1, 2, 3, 4}}, {{}}};
  ListFixture list;
  EXPECT_TRUE(list.view.dragEnabled());
  EXPECT_TRUE(list.view.results()->flags(list.view.results()->index(0, 0)) & Qt::ItemIsDragEnabled);
  for (const auto& c : cases) {
    list.Select(c.rows);
    std::vector<int> in_order = c.rows;
    std::sort(in_order.begin(), in_order.end());
    std::vector<std::string> expected;
    std::string text;
    for (std::size_t i = 0; i < in_order.size(); ++i) {
      expected.push_back(list.Native(in_order[i]));
      text += (i ? "\n" : "") + expected.back();
    }
    const std::vector<std::string> paths = SelectedNativePaths(list.view);
    EXPECT_EQ(paths, expected);
    std::unique_ptr<QMimeData> data(MakeDragMimeData(paths));
    EXPECT_EQ(commands::ParseUriList(Format(data.get(), commands::kMimeUriList)), expected);
    EXPECT_EQ(Format(data.get(), commands::kMimeTextPlain), text);
    EXPECT_EQ(data->formats(), (QStringList{commands::kMimeUriList, commands::kMimeTextPlain}));
  }
}

TEST(FileClipboard, CutAndCopyFollowTheSelectionInTheWindow) {
  test::ScopedTestEnv env;
  test::QtApp();
  const std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/one a.txt", "1");
  test::WriteTextFile(root + "/one b.txt", "2");
  SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
  MainFrame frame(test::QuickOptions());
  frame.Start("");
  FindForm* form = frame.form();
  ASSERT_TRUE(test::RunUntil([&] { return form->named_box()->isEnabled(); }));
  QTest::keyClicks(form->named_box()->lineEdit(), "one");
  ASSERT_TRUE(test::RunUntil([&] { return form->status_text() == "Found 2 files."; }));
  ResultsView* view = form->results_view();

  const struct {
    std::vector<int> rows;
    int command;  // triggered when enabled
    const char* gnome;  // what the clipboard then holds; null: nothing put there
  } cases[] = {
      {{}, kCmdCopy, nullptr},
      {{1}, kCmdCopy, "copy\nfile://@/one%20b.txt"},
      {{0, 1}, kCmdCut, "cut\nfile://@/one%20a.txt\nfile://@/one%20b.txt"},
      {{}, kCmdCut, nullptr},
  };
  for (const auto& c : cases) {
    view->selectionModel()->clearSelection();
    for (int row : c.rows)
      view->selectionModel()->select(view->results()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const bool selected = !c.rows.empty();
    EXPECT_EQ(frame.action(kCmdCut)->isEnabled(), selected);
    EXPECT_EQ(frame.action(kCmdCopy)->isEnabled(), selected);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    frame.action(c.command)->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!c.gnome) {
      EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
      continue;
    }
    std::string expected = c.gnome;
    for (std::size_t at; (at = expected.find('@')) != std::string::npos;)
      expected.replace(at, 1, root);
    EXPECT_EQ(Format(data, commands::kMimeGnomeCopiedFiles), expected);
  }
  // A drag that moved a file away brings the list up to date: the find runs
  // again. The index may still name the file when the find reads it (the
  // walk that notices the removal can come after), so the count is either;
  // the row goes once it is drawn.
  ASSERT_EQ(0, std::remove((root + "/one b.txt").c_str()));
  int ends = 0;
  QObject::connect(form, &FindForm::statusChanged, form, [&ends](const QString& text) {
    if (text.startsWith(QStringLiteral("Found "))) ++ends;
  });
  emit view->filesMovedByDrag();
  ASSERT_TRUE(test::RunUntil([&] { return ends > 0; }));
  ResultsModel* model = view->results();
  for (int row = 0; row < model->RowCount(); ++row)
    for (int column = 0; column < model->columnCount(); ++column)
      model->data(model->index(row, column), Qt::DisplayRole);
  EXPECT_TRUE(test::RunUntil([&] { return model->RowCount() == 1; })) << model->RowCount();
  ASSERT_GE(model->RowCount(), 1);
  EXPECT_EQ(std::string(model->RowRecord(0)->name()), "one a.txt");
  frame.set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
  frame.close();
  ASSERT_TRUE(test::RunUntil([&] { return form->closed(); }));
}

}  // namespace
}  // namespace quindelo::ui
