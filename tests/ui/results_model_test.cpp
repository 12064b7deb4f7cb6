// The results model: rows arrive in batches at their sorted places, are
// re-sorted by every key and deleted under Qt's model rules; cells show the
// record's texts, types by name only, fetching nothing while deferred; rows
// of vanished files go when their name is drawn.
#include "ui/results_model.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QMimeDatabase>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "results_fixture.h"
#include "ui/file_types.h"

namespace quindelo::ui {
namespace {

using testing::ModelRuleLog;
using testing::ResultsFixture;
using Tester = QAbstractItemModelTester;

std::vector<std::string> RowNames(const ResultsModel& model) {
  std::vector<std::string> names;
  for (int row = 0; row < model.RowCount(); ++row) names.push_back(model.RowRecord(row)->name());
  return names;
}

bool Sorted(ResultsModel& model) {
  for (int row = 1; row < model.RowCount(); ++row)
    if (CompareFoundFiles(model.RowRecord(row - 1), model.RowRecord(row), model.sort_order(),
                          &model.result_set()->pool()) > 0)
      return false;
  return true;
}

// A batch placed as the search driver places it: each position is the
// record's row once the whole batch is in.
std::vector<ResultSet::Placed> PlaceBatch(ResultsModel& model, const std::vector<FoundFile*>& batch) {
  std::vector<FoundFile*> rows;
  for (int row = 0; row < model.RowCount(); ++row) rows.push_back(model.RowRecord(row));
  for (FoundFile* record : batch) {
    std::size_t at = 0;
    FindInsertRow(
        rows.size(),
        [&](std::size_t row) {
          return CompareFoundFiles(record, rows[row], model.sort_order(), &model.result_set()->pool());
        },
        [] { return true; }, &at);
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), record);
  }
  std::vector<ResultSet::Placed> inserts;
  for (std::size_t row = 0; row < rows.size(); ++row)
    if (std::count(batch.begin(), batch.end(), rows[row]))
      inserts.push_back({static_cast<int>(row), rows[row]});
  return inserts;
}

TEST(ResultsModel, BatchesResortsAndDeletionKeepModelRulesSelectionAndCurrentRow) {
  ResultsFixture fixture;
  ModelRuleLog log;
  ResultsModel model;
  model.SetResultSet(fixture.rows());
  ViewOptions all_columns;
  all_columns.show_type = all_columns.show_size = all_columns.show_date = 1;
  model.SetViewOptions(all_columns);
  Tester tester(&model, Tester::FailureReportingMode::Warning);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

  std::vector<FoundFile*> records;
  std::mt19937 random(7);
  for (const char* name : {"Makefile", "makefile", "b.txt", "A.png", "z.c", "notes", "x.TXT"})
    for (const char* folder : {"d0\\", "d1\\", "d2\\"})
      records.push_back(fixture.File(std::string(folder) + name, random() % 30000,
                                     900000000 + (random() % 5) * 600));
  records.push_back(fixture.Folder("d1\\sub"));
  std::shuffle(records.begin(), records.end(), random);
  for (std::size_t first = 0; first < records.size(); first += 5) {
    const auto begin = records.begin() + static_cast<std::ptrdiff_t>(first);
    model.result_set()->InsertPlaced(PlaceBatch(model, {begin, begin + std::min<std::ptrdiff_t>(5, records.end() - begin)}));
  }
  ASSERT_EQ(22, model.RowCount());
  EXPECT_TRUE(Sorted(model));
  EXPECT_GT(inserted.count(), 5);  // runs of a batch go in one by one

  // Rows 2, 3 and 9 selected, row 14 current: they follow their records.
  QItemSelectionModel selection(&model);
  for (int row : {2, 3, 9})
    selection.select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  selection.setCurrentIndex(model.index(14, 1), QItemSelectionModel::NoUpdate);
  auto selected = [&] {
    std::set<const FoundFile*> records;
    for (const QModelIndex& index : selection.selectedRows(4))
      records.insert(model.RowRecord(index.row()));
    return records;
  };
  const auto selected_before = selected();
  const FoundFile* current = model.RowRecord(14);

  for (int key = kColumnName; key <= kColumnDate; ++key) {
    for (Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
      SCOPED_TRACE(::testing::Message() << "key " << key << " order " << order);
      model.sort(model.ModelColumn(key), order);
      EXPECT_EQ(key, model.view_options().sort_column);
      EXPECT_EQ(order == Qt::DescendingOrder, model.sort_order().descending);
      EXPECT_TRUE(Sorted(model));
      EXPECT_EQ(selected_before, selected());
      EXPECT_EQ(current, model.RowRecord(selection.currentIndex().row()));
    }
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
  auto comment = [&](const char* type) { return mime.mimeTypeForName(type).comment(); };
  ASSERT_FALSE(comment("text/plain").isEmpty());
  enum Kind { kFile, kFolder, kLinkToFolder };
  // Files hold 10752 bytes written 00:05:09 on 7 March 1997.
  const struct {
    const char* name;
    Kind kind;
    int column;
    bool show_extension, deferred;
    QString text;
    bool size_fetched, type_fetched;  // afterwards
  } kCases[] = {
      {"report.final.txt", kFile, kColumnName, true, false, "report.final.txt", true, false},
      {"report.final.txt", kFile, kColumnName, false, false, "report.final", true, false},
      {"report.final.txt", kFile, kColumnName, false, true, "report.final", false, false},
      {"a.txt", kFile, kColumnFolder, false, false, "T:\\dir", false, false},
      {"a.txt", kFile, kColumnSize, false, false, "10 K", true, false},
      {"a.txt", kFile, kColumnSize, false, true, "", false, false},
      {"a.txt", kFile, kColumnDate, false, false, " 3/07/97 12:05:09 AM", true, false},
      {"a.txt", kFile, kColumnDate, false, true, "", false, false},
      {"a.txt", kFile, kColumnType, false, true, "", false, false},
      // Types by name only (the contents are x's), folders by what they are,
      // links never followed.
      {"A.TXT", kFile, kColumnType, false, false, comment("text/plain"), false, true},
      {"b.png", kFile, kColumnType, false, false, comment("image/png"), false, true},
      {"notes", kFile, kColumnType, false, false, "", false, true},
      {"c.qqqunknown", kFile, kColumnType, false, false, "QQQUNKNOWN File", false, true},
      {"sub.zip", kFolder, kColumnType, false, false, comment("inode/directory"), false, true},
      {"sub", kFolder, kColumnSize, false, false, "0", true, false},
      {"link", kLinkToFolder, kColumnType, false, false, "", false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.name << " column " << c.column << " deferred "
                                      << c.deferred);
    ResultsFixture fixture;
    const std::string relative = std::string("dir\\") + c.name;
    FoundFile* record = nullptr;
    if (c.kind == kFile) record = fixture.File(relative, 10752, 857693109);
    if (c.kind == kFolder) record = fixture.Folder(relative);
    if (c.kind == kLinkToFolder) {
      fixture.Folder("target");
      fixture.Folder("dir");
      ASSERT_EQ(0, symlink(fixture.Native("target").c_str(), fixture.Native(relative).c_str()));
      record = fixture.Record(relative);
    }
    ResultsModel model;
    model.SetResultSet(fixture.rows());
    ViewOptions options;
    options.show_type = options.show_size = options.show_date = 1;
    options.show_extension = c.show_extension;
    model.SetViewOptions(options);
    model.SetDeferredDetails([&c] { return c.deferred; });
    model.result_set()->InsertPlaced({{0, record}});

    EXPECT_EQ(c.text, model.data(model.index(0, model.ModelColumn(c.column))).toString());
    EXPECT_EQ(c.size_fetched, record->size_fetched());
    EXPECT_EQ(c.type_fetched, record->type_fetched());
    // Icons: none while deferred, fetched and shown otherwise.
    const QVariant icon = model.data(model.index(0, 0), Qt::DecorationRole);
    EXPECT_EQ(c.deferred, !icon.isValid());
    EXPECT_EQ(!c.deferred, record->icon_fetched());
  }
}

TEST(ResultsModel, IconsAreSharedByIconName) {
  ResultsFixture fixture;
  ResultsModel model;
  model.SetResultSet(fixture.rows());
  model.result_set()->InsertPlaced({{0, fixture.File("a.txt")}, {1, fixture.File("s\\b.txt")},
                    {2, fixture.File("c.png")}, {3, fixture.Folder("d")}});
  for (int row = 0; row < 4; ++row)
    EXPECT_FALSE(model.data(model.index(row, 0), Qt::DecorationRole).value<QIcon>().isNull());
  auto icon = [&](int row) { return model.RowRecord(row)->icon; };
  EXPECT_EQ(icon(0), icon(1));
  EXPECT_EQ(3u, std::set<std::int32_t>({icon(0), icon(2), icon(3)}).size());
  EXPECT_GT(model.file_types()->IconCount(), icon(3));
}

TEST(ResultsModel, RowsOfVanishedFilesGoWhenTheirNameIsDrawnUnlessDeferred) {
  ResultsFixture fixture;
  ModelRuleLog log;
  ResultsModel model;
  model.SetResultSet(fixture.rows());
  Tester tester(&model, Tester::FailureReportingMode::Warning);
  bool deferred = true;
  model.SetDeferredDetails([&deferred] { return deferred; });
  // Files that exist though their time's low 32 bits are 0: one from before
  // 1970 (time 0 for the core), one at a multiple of 2^32 hundred ns.
  FoundFile* old = fixture.File("old", 0, -86400);
  FoundFile* round = fixture.File("round", 0, 1499999790, 494515200);
  model.result_set()->InsertPlaced({{0, fixture.File("a")},
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
  EXPECT_EQ(1, removed.count());  // b and c in one run
  EXPECT_EQ(0u, static_cast<std::uint32_t>(old->last_write));
  EXPECT_EQ(0u, static_cast<std::uint32_t>(round->last_write));
  EXPECT_NE(0u, round->last_write);

  // A removal still queued when the rows are deleted removes nothing from
  // the next rows, even where a record pointer comes back.
  FoundFile* doomed = fixture.Record("never-there");
  model.result_set()->InsertPlaced({{0, doomed}});
  model.data(model.index(0, 0));
  model.DeleteAllRows();  // the pool goes too: the next record may be carved where doomed was
  FoundFile* again = fixture.File("never-there");
  model.result_set()->InsertPlaced({{0, again}});
  QCoreApplication::processEvents();
  EXPECT_EQ(1, model.RowCount());
  EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join('\n').toStdString();
}

// A gone file whose size and date something else fetched first (a sort by
// size, a Size cell) still loses its row when its name is drawn; one a
// comparison found gone before its row came in never gets a row.
TEST(ResultsModel, FilesFoundGoneBeforeTheirNameIsDrawnLeaveNoRow) {
  ResultsFixture fixture;
  ModelRuleLog log;
  ResultsModel model;
  model.SetResultSet(fixture.rows());
  Tester tester(&model, Tester::FailureReportingMode::Warning);
  ViewOptions options;
  options.show_size = options.show_date = 1;
  model.SetViewOptions(options);
  model.result_set()->InsertPlaced({{0, fixture.File("a")}, {1, fixture.File("b")}, {2, fixture.File("c")}});
  ASSERT_EQ(0, unlink(fixture.Native("b").c_str()));
  // The Size cell first: the lookup fails and gives 0.
  EXPECT_EQ(QString("0"), model.data(model.index(1, model.ModelColumn(kColumnSize))).toString());
  for (int row = 0; row < model.RowCount(); ++row) model.data(model.index(row, 0));
  QCoreApplication::processEvents();
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), RowNames(model));

  // A batch whose second and fourth records are known gone.
  FoundFile* gone1 = fixture.Record("gone1");
  FoundFile* gone2 = fixture.Record("gone2");
  for (FoundFile* record : {gone1, gone2}) FetchFileDetails(record, FileDetail::kSizeAndDate, fixture.pool());
  model.result_set()->InsertPlaced({{0, fixture.File("0")}, {1, gone1}, {3, fixture.File("x")}, {4, gone2},
                    {5, fixture.File("z")}});
  EXPECT_EQ((std::vector<std::string>{"0", "a", "x", "z", "c"}), RowNames(model));
  EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join('\n').toStdString();
}

}  // namespace
}  // namespace quindelo::ui
