// The results model: rows arrive in batches at their sorted places, are
// re-sorted by every key and deleted under Qt's model rules; cells show the
// record's texts, fetching details only when not deferred; rows of vanished
// files go when their name is drawn; columns follow the show flags.
#include "ui/results_model.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QMimeDatabase>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "results_fixture.h"
#include "search/found_file.h"

namespace quindelo::ui {
namespace {

using testing::ModelRuleLog;
using testing::ResultsFixture;

std::vector<std::string> RowNames(const ResultsModel& model) {
  std::vector<std::string> names;
  for (int row = 0; row < model.RowCount(); ++row) names.push_back(model.RowRecord(row)->name());
  return names;
}

// Every pair of neighbouring rows in the model's order.
::testing::AssertionResult Sorted(ResultsModel& model) {
  for (int row = 1; row < model.RowCount(); ++row) {
    if (CompareFoundFiles(model.RowRecord(row - 1), model.RowRecord(row), model.sort_order(),
                          model.pool()) > 0)
      return ::testing::AssertionFailure() << "rows " << row - 1 << " and " << row;
  }
  return ::testing::AssertionSuccess();
}

// A batch placed as the search driver places it: each record's row is found
// among the rows and the batch, and its position is its place once all are in.
std::vector<RowInsert> PlaceBatch(ResultsModel& model, const std::vector<FoundFile*>& batch) {
  std::vector<FoundFile*> rows;
  for (int row = 0; row < model.RowCount(); ++row) rows.push_back(model.RowRecord(row));
  for (FoundFile* record : batch) {
    std::size_t at = 0;
    FindInsertRow(
        rows.size(),
        [&](std::size_t row) {
          return CompareFoundFiles(record, rows[row], model.sort_order(), model.pool());
        },
        [] { return true; }, &at);
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), record);
  }
  std::vector<RowInsert> inserts;
  for (std::size_t row = 0; row < rows.size(); ++row)
    if (std::find(batch.begin(), batch.end(), rows[row]) != batch.end())
      inserts.push_back({static_cast<int>(row), rows[row]});
  return inserts;
}

TEST(ResultsModel, BatchesResortsAndDeletionKeepModelRulesSelectionAndCurrentRow) {
  ResultsFixture fixture;
  ModelRuleLog log;
  ResultsModel model;
  model.SetPool(fixture.pool());
  ViewOptions all_columns;
  all_columns.show_type = all_columns.show_size = all_columns.show_date = 1;
  model.SetViewOptions(all_columns);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

  const char* const kNames[] = {"Makefile", "makefile", "b.txt", "A.png", "z.c", "notes", "x.TXT"};
  std::vector<FoundFile*> records;
  std::mt19937 random(7);
  for (int folder = 0; folder < 3; ++folder) {
    for (int i = 0; i < 7; ++i) {
      const std::string path = "d" + std::to_string(folder) + "\\" + kNames[i];
      records.push_back(fixture.File(path, random() % 30000, 900000000 + (random() % 5) * 600));
    }
  }
  records.push_back(fixture.Folder("d1\\sub"));
  std::shuffle(records.begin(), records.end(), random);
  int batches = 0;
  for (std::size_t first = 0; first < records.size(); first += 5, ++batches) {
    std::vector<FoundFile*> batch(records.begin() + static_cast<std::ptrdiff_t>(first),
                                  records.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(first + 5, records.size())));
    model.InsertRows(PlaceBatch(model, batch));
  }
  ASSERT_EQ(static_cast<int>(records.size()), model.RowCount());
  EXPECT_TRUE(Sorted(model));
  EXPECT_GE(inserted.count(), batches);

  // Rows 2, 3 and 9 selected, row 14 current: they follow their records.
  QItemSelectionModel selection(&model);
  const int last_column = model.columnCount() - 1;
  selection.select(QItemSelection(model.index(2, 0), model.index(3, last_column)),
                   QItemSelectionModel::Select);
  selection.select(QItemSelection(model.index(9, 0), model.index(9, last_column)),
                   QItemSelectionModel::Select);
  selection.setCurrentIndex(model.index(14, 1), QItemSelectionModel::NoUpdate);
  auto selected_names = [&] {
    std::multiset<std::string> names;
    for (const QModelIndex& index : selection.selectedRows(last_column))
      names.insert(std::string(model.RowRecord(index.row())->folder) + "\\" +
                   model.RowRecord(index.row())->name());
    return names;
  };
  const auto selected_before = selected_names();
  const FoundFile* current = model.RowRecord(selection.currentIndex().row());
  ASSERT_EQ(3u, selected_before.size());

  const struct {
    int key;
    Qt::SortOrder order;
  } kSorts[] = {{kColumnName, Qt::AscendingOrder},   {kColumnName, Qt::DescendingOrder},
                {kColumnFolder, Qt::DescendingOrder}, {kColumnType, Qt::AscendingOrder},
                {kColumnType, Qt::DescendingOrder},   {kColumnSize, Qt::AscendingOrder},
                {kColumnSize, Qt::DescendingOrder},   {kColumnDate, Qt::AscendingOrder},
                {kColumnDate, Qt::DescendingOrder},   {kColumnFolder, Qt::AscendingOrder}};
  for (const auto& sort : kSorts) {
    SCOPED_TRACE(::testing::Message() << "key " << sort.key << " order " << sort.order);
    model.sort(model.ModelColumn(sort.key), sort.order);
    EXPECT_EQ(sort.key, model.view_options().sort_column);
    EXPECT_EQ(sort.order == Qt::DescendingOrder, model.sort_order().descending);
    EXPECT_TRUE(Sorted(model));
    EXPECT_EQ(selected_before, selected_names());
    EXPECT_EQ(current, model.RowRecord(selection.currentIndex().row()));
    EXPECT_EQ(1, selection.currentIndex().column());
  }

  model.DeleteAllRows();
  EXPECT_EQ(0, model.RowCount());
  EXPECT_FALSE(selection.hasSelection());
  EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join('\n').toStdString();
}

TEST(ResultsModel, CellTextsAndWhatTheyFetch) {
  setenv("TZ", "UTC", 1);
  tzset();
  const QMimeDatabase mime;
  const QString text_type = mime.mimeTypeForName("text/plain").comment();
  const QString folder_type = mime.mimeTypeForName("inode/directory").comment();
  ASSERT_FALSE(text_type.isEmpty());
  ASSERT_FALSE(folder_type.isEmpty());

  // report.final.txt: 10752 bytes written 00:05:09 on 7 March 1997; "sub": a
  // folder.
  const struct {
    bool folder;
    int column;
    bool show_extension;
    bool deferred;
    QString text;
    bool size_fetched;  // afterwards
    bool type_fetched;
  } kCases[] = {
      {false, kColumnName, true, false, "report.final.txt", true, false},
      {false, kColumnName, false, false, "report.final", true, false},
      {false, kColumnName, false, true, "report.final", false, false},
      {false, kColumnFolder, false, false, "T:\\dir", false, false},
      {false, kColumnType, false, false, text_type, false, true},
      {false, kColumnType, false, true, "", false, false},
      {false, kColumnSize, false, false, "10 K", true, false},
      {false, kColumnSize, false, true, "", false, false},
      {false, kColumnDate, false, false, " 3/07/97 12:05:09 AM", true, false},
      {false, kColumnDate, false, true, "", false, false},
      {true, kColumnType, false, false, folder_type, false, true},
      {true, kColumnSize, false, false, "0", true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "column " << c.column << " deferred " << c.deferred
                                      << " folder " << c.folder);
    ResultsFixture fixture;
    FoundFile* record = c.folder ? fixture.Folder("dir\\sub")
                                 : fixture.File("dir\\report.final.txt", 10752, 857693109);
    ResultsModel model;
    model.SetPool(fixture.pool());
    ViewOptions options;
    options.show_type = options.show_size = options.show_date = 1;
    options.show_extension = c.show_extension;
    model.SetViewOptions(options);
    bool deferred = c.deferred;
    model.SetDeferredDetails([&deferred] { return deferred; });
    model.InsertRows({{0, record}});

    EXPECT_EQ(c.text, model.data(model.index(0, model.ModelColumn(c.column))).toString());
    EXPECT_EQ(c.size_fetched, record->size_fetched());
    EXPECT_EQ(c.type_fetched, record->type_fetched());
    // Icons: none while deferred, fetched and shown otherwise.
    const QVariant icon = model.data(model.index(0, 0), Qt::DecorationRole);
    EXPECT_EQ(c.deferred, !icon.isValid());
    EXPECT_EQ(!c.deferred, record->icon_fetched());
    EXPECT_EQ(1, model.RowCount());
  }
}

TEST(ResultsModel, RowsOfVanishedFilesGoWhenTheirNameIsDrawnUnlessDeferred) {
  ResultsFixture fixture;
  ModelRuleLog log;
  ResultsModel model;
  model.SetPool(fixture.pool());
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  bool deferred = true;
  model.SetDeferredDetails([&deferred] { return deferred; });
  // Files that exist though their time's low 32 bits are 0: one from before
  // 1970 (time 0 for the core), one at a multiple of 2^32 hundred
  // nanoseconds.
  FoundFile* old = fixture.File("old", 0, -86400);
  FoundFile* round = fixture.File("round", 0, 1499999790, 494515200);
  model.InsertRows({{0, fixture.File("a")},
                    {1, fixture.File("b")},
                    {2, fixture.File("c")},
                    {3, fixture.File("d")},
                    {4, old},
                    {5, round}});
  for (const char* gone : {"b", "c"}) ASSERT_EQ(0, unlink(fixture.Native(gone).c_str()));
  auto draw_names = [&] {
    for (int row = 0; row < model.RowCount(); ++row) model.data(model.index(row, 0));
    QCoreApplication::processEvents();
  };

  draw_names();
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "old", "round"}), RowNames(model));

  deferred = false;
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  draw_names();
  EXPECT_EQ((std::vector<std::string>{"a", "d", "old", "round"}), RowNames(model));
  EXPECT_EQ(0u, static_cast<std::uint32_t>(old->last_write));
  EXPECT_EQ(0u, static_cast<std::uint32_t>(round->last_write));
  EXPECT_NE(0u, round->last_write);
  EXPECT_EQ(1, removed.count());  // b and c in one run

  // A removal still queued when the rows are deleted removes nothing from
  // the next rows, even where a record pointer comes back.
  FoundFile* doomed = fixture.Record("never-there");
  model.InsertRows({{0, doomed}});
  model.data(model.index(0, 0));
  model.DeleteAllRows();
  model.InsertRows({{0, doomed}});
  QCoreApplication::processEvents();
  EXPECT_EQ(1, model.RowCount());
  EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join('\n').toStdString();
}

TEST(ResultsModel, ColumnsFollowTheShowFlagsInTheirFixedOrder) {
  testing::TestApp();
  const struct {
    int type, size, date;
    QStringList headers;
  } kCases[] = {
      {0, 0, 0, {"Name", "Folder"}},
      {1, 0, 0, {"Name", "Folder", "Type"}},
      {0, 1, 1, {"Name", "Folder", "Size", "Date"}},
      {0, 0, 1, {"Name", "Folder", "Date"}},
      {1, 1, 1, {"Name", "Folder", "Type", "Size", "Date"}},
      {0, 0, 0, {"Name", "Folder"}},
  };
  ResultsModel model;  // one model through all cases: columns come and go
  ModelRuleLog log;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  for (const auto& c : kCases) {
    ViewOptions options;
    options.show_type = c.type;
    options.show_size = c.size;
    options.show_date = c.date;
    model.SetViewOptions(options);
    QStringList headers;
    for (int column = 0; column < model.columnCount(); ++column) {
      headers << model.headerData(column, Qt::Horizontal).toString();
      EXPECT_EQ(column, model.ModelColumn(model.ViewColumnAt(column)));
      const auto align = model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole)
                             .value<Qt::Alignment>();
      EXPECT_EQ(model.ViewColumnAt(column) == kColumnSize, (align & Qt::AlignRight) != 0);
    }
    EXPECT_EQ(c.headers, headers);
    EXPECT_EQ(c.type ? 2 : -1, model.ModelColumn(kColumnType));
    EXPECT_EQ(-1, model.ViewColumnAt(model.columnCount()));
  }
  EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join('\n').toStdString();
}

}  // namespace
}  // namespace quindelo::ui
