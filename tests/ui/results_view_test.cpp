// The results view: the selection status line, header clicks, the events
// that stop a find, open and delete, the walk over the selection, and the
// columns' widths through hiding, showing and fitting.
#include "ui/results_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "results_fixture.h"
#include "scaled_run.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using testing::ResultsFixture;

// A shown view over the files r0, r1, ... of folder T:\f.
struct ViewFixture {
  explicit ViewFixture(int rows, bool show_size = false) {
    view.resize(320, 200);
    view.results()->SetResultSet(files.rows());
    ViewOptions options;
    options.show_size = show_size;
    options.sort_column = kColumnName;
    view.SetViewOptions(options);
    view.SetFindRunning([this] { return running; });
    std::vector<ResultSet::Placed> inserts;
    for (int row = 0; row < rows; ++row)
      inserts.push_back({row, files.File("f\\r" + std::to_string(row))});
    view.results()->result_set()->InsertPlaced(inserts);
    view.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
  }
  void SelectRows(const std::vector<int>& rows) {
    view.selectionModel()->clearSelection();
    for (int row : rows)
      view.selectionModel()->select(view.results()->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  QPoint RowCenter(int row) { return view.visualRect(view.results()->index(row, 0)).center(); }

  ResultsFixture files;
  ResultsView view;
  bool running = false;
};

// A paint device that keeps the texts drawn on it, to read what the list
// shows in its cells.
class TextRecorder : public QPaintDevice {
 public:
  explicit TextRecorder(QSize size) : engine_(this), size_(size) {}
  QPaintEngine* paintEngine() const override { return &engine_; }
  const QStringList& texts() const { return texts_; }

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth: return size_.width();
      case PdmHeight: return size_.height();
      case PdmWidthMM: return size_.width() / 4;
      case PdmHeightMM: return size_.height() / 4;
      case PdmDepth: return 32;
      case PdmNumColors: return 0x7fffffff;
      case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
      case PdmDevicePixelRatio: return 1;
      case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
      default: return 0;
    }
  }

 private:
  class Engine : public QPaintEngine {
   public:
    explicit Engine(TextRecorder* owner) : owner_(owner) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPolygon(const QPoint*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF&, const QTextItem& item) override {
      owner_->texts_.append(item.text());
    }
    Type type() const override { return QPaintEngine::User; }

   private:
    TextRecorder* owner_;
  };
  mutable Engine engine_;
  QSize size_;
  QStringList texts_;
};

// A folder too long for its column keeps its beginning and its end; the
// tooltip gives the whole folder (and a name's, its whole path), as text.
TEST(ResultsView, LongFoldersLoseTheirMiddleAndShowWholeInTheirTooltip) {
  ResultsFixture files;
  ResultsView view;
  view.resize(400, 200);
  view.results()->SetResultSet(files.rows());
  ViewOptions options;
  options.column_widths[kColumnName] = 150;
  options.column_widths[kColumnFolder] = 150;
  view.SetViewOptions(options);
  const std::string folder = "start_of_it\\middle<b>" + std::string(60, 'm') + "\\end_of_it";
  view.results()->result_set()->InsertPlaced({{0, files.File(folder + "\\name_of_it.txt")}});
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

  TextRecorder recorder(view.viewport()->size());
  view.viewport()->render(&recorder);
  const QString whole = QString::fromStdString("T:\\" + folder);
  QString shown;
  for (const QString& text : recorder.texts())
    if (text.startsWith(QStringLiteral("T:"))) shown = text;
  ASSERT_FALSE(shown.isEmpty()) << recorder.texts().join(QLatin1Char('|')).toStdString();
  EXPECT_LT(shown.size(), whole.size());
  EXPECT_TRUE(shown.startsWith(QStringLiteral("T:\\start"))) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral("end_of_it"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();

  const QModelIndex folder_cell = view.results()->index(0, view.results()->ModelColumn(kColumnFolder));
  const QString tip = folder_cell.data(Qt::ToolTipRole).toString();
  QTextDocument document;
  document.setHtml(tip);
  EXPECT_EQ(whole, document.toPlainText());
  document.setHtml(view.results()->index(0, 0).data(Qt::ToolTipRole).toString());
  EXPECT_EQ(whole + QStringLiteral("\\name_of_it.txt"), document.toPlainText());
}

// A fast fill draws its first rows before any icon is fetched; rows are
// still at least an icon plus a pixel tall once the icons come, at scale 1
// and (in a process of its own) at scale 2.
TEST(ResultsView, RowsAreTallerThanTheirIconsAfterAFastFill) {
  ResultsFixture files;
  EXPECT_DOUBLE_EQ(test::ScaleOfThisRun(), qApp->devicePixelRatio());
  bool deferred = true;
  ResultsView view;
  view.resize(400, 300);
  view.results()->SetResultSet(files.rows());
  view.results()->SetDeferredDetails([&deferred] { return deferred; });
  std::vector<ResultSet::Placed> rows;
  for (int row = 0; row < 30; ++row)
    rows.push_back({row, files.File("f\\r" + std::to_string(row) + (row % 2 ? ".txt" : ".png"))});
  view.results()->result_set()->InsertPlaced(rows);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  EXPECT_FALSE(view.results()->index(0, 0).data(Qt::DecorationRole).isValid());
  deferred = false;
  view.viewport()->repaint();
  QApplication::processEvents();

  const int icon = ResultsView::IconHeight(view);
  const QIcon drawn = view.results()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
  ASSERT_FALSE(drawn.isNull());
  const int drawn_height = drawn.actualSize(QSize(icon, icon)).height();
  EXPECT_GE(icon, drawn_height);
  for (int row : {0, 1, 29}) {
    const int height = view.visualRect(view.results()->index(row, 0)).height();
    EXPECT_GE(height, icon + 1) << "row " << row;
    EXPECT_GT(height, drawn_height) << "row " << row;
  }
  EXPECT_TRUE(test::RunScaled("2"));
}

// A sort that needs details most rows lack leaves the window thread free:
// the details are looked up elsewhere while the status line reads
// "Sorting...", and the rows are sorted once they are there, with the rows
// that came in meanwhile. A later sort, or deleting the rows, drops the wait.
TEST(ResultsView, SortsThatNeedDetailsWaitForThemOffTheWindowThread) {
  ResultsFixture files;
  ResultsView view;
  view.resize(400, 300);
  view.results()->SetResultSet(files.rows());
  QString status = QStringLiteral("Found 200 files.");
  QObject::connect(&view, &ResultsView::statusText, [&status](const QString& text) { status = text; });
  view.SetStatusReader([&status] { return status; });
  ViewOptions options;
  options.show_size = 1;
  options.sort_column = kColumnName;
  view.SetViewOptions(options);
  const char* const kExtensions[] = {".txt", ".png", ".c", ".pdf"};
  std::vector<ResultSet::Placed> rows;
  for (int row = 0; row < 200; ++row) {
    char name[32];
    std::snprintf(name, sizeof name, "r%03d%s", row, kExtensions[row % 4]);
    rows.push_back({row, files.File(std::string("f\\") + name, static_cast<std::size_t>((row * 37) % 200))});
  }
  ResultsModel* model = view.results();
  model->result_set()->InsertPlaced(rows);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto fetched = [&](FileDetail what) {
    int count = 0;
    for (int row = 0; row < model->RowCount(); ++row)
      count += what == FileDetail::kType ? model->RowRecord(row)->type_fetched()
                                         : model->RowRecord(row)->size_fetched();
    return count;
  };
  auto in_order = [&] {
    for (int row = 1; row < model->RowCount(); ++row)
      if (CompareFoundFiles(model->RowRecord(row - 1), model->RowRecord(row), model->sort_order(),
                            files.pool()) > 0)
        return false;
    return true;
  };

  const int drawn = fetched(FileDetail::kSizeAndDate);  // the visible rows
  ASSERT_LT(drawn, 100);
  view.SortByHeader(kColumnType);
  EXPECT_TRUE(model->sort_pending());
  EXPECT_EQ(QString("Sorting..."), status);
  EXPECT_EQ(0, fetched(FileDetail::kType));  // nothing looked up here
  EXPECT_EQ(std::string("r000.txt"), model->RowRecord(0)->name());  // not sorted yet
  EXPECT_EQ(model->ModelColumn(kColumnType), view.header()->sortIndicatorSection());
  // Rows found meanwhile are sorted with the rest.
  model->result_set()->InsertPlaced({{0, files.File("f\\late.zzz")}, {1, files.File("f\\early.aaa")}});
  ASSERT_TRUE(test::RunUntil([&] { return !model->sort_pending(); }));
  EXPECT_EQ(202, fetched(FileDetail::kType));
  EXPECT_TRUE(in_order());
  EXPECT_EQ(QString("Found 200 files."), status);

  // A sort by name drops a wait for sizes; the rows are by name at once.
  view.SortByHeader(kColumnSize);
  EXPECT_TRUE(model->sort_pending());
  view.SortByHeader(kColumnName);
  EXPECT_FALSE(model->sort_pending());
  EXPECT_TRUE(in_order());
  EXPECT_EQ(QString("Found 200 files."), status);
  QApplication::processEvents();
  EXPECT_TRUE(in_order());

  // Deleting the rows drops the wait; nothing of it reaches the next rows.
  view.SortByHeader(kColumnSize);
  ASSERT_TRUE(model->sort_pending());
  model->DeleteAllRows();
  EXPECT_FALSE(model->sort_pending());
  model->result_set()->InsertPlaced({{0, files.File("f\\again.txt", 5)}});
  QApplication::processEvents();
  EXPECT_EQ(1, model->RowCount());
}

TEST(ResultsView, SelectionStatusTexts) {
  const struct {
    int rows;
    std::vector<int> selected;
    bool running;
    const char* text;  // null: nothing written
  } kCases[] = {
      {1, {0}, false, "Selected the one and only file."},
      {5, {3}, false, "Selected 1 of 5 files."},
      {5, {0, 2, 4}, false, "Selected 3 of 5 files."},
      {1, {}, false, "Haven't selected the one and only file."},
      {5, {}, false, "Selected none of the 5 files."},
      {0, {}, false, "Selected none of the 0 files."},
      {5, {1, 2}, true, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.rows << " rows, " << c.selected.size() << " selected");
    ViewFixture fixture(c.rows);
    fixture.running = c.running;
    fixture.SelectRows(c.selected);
    QSignalSpy status(&fixture.view, &ResultsView::statusText);
    fixture.view.ShowSelectionStatus();
    ASSERT_EQ(c.text ? 1 : 0, status.count());
    if (c.text) {
      EXPECT_EQ(QString(c.text), status.at(0).at(0).toString());
    }
  }
}

TEST(ResultsView, HeaderClicksPickTheKeyOrFlipTheSortedColumn) {
  ViewFixture fixture(12, /*show_size=*/true);
  ResultsView& view = fixture.view;
  QSignalSpy sorted(&view, &ResultsView::sortChanged);
  // From Name ascending; each click as the user makes it, on the header.
  const struct {
    int column;
    int key;
    bool descending;
  } kClicks[] = {
      {kColumnName, kColumnName, true},      {kColumnFolder, kColumnFolder, true},
      {kColumnFolder, kColumnFolder, false}, {kColumnSize, kColumnSize, false},
      {kColumnName, kColumnName, false},     {kColumnName, kColumnName, true},
  };
  for (const auto& click : kClicks) {
    SCOPED_TRACE(::testing::Message() << "click on " << click.column);
    QHeaderView* header = view.header();
    const int section = view.results()->ModelColumn(click.column);
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    sorted.clear();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(1, sorted.count());
    EXPECT_EQ(click.key, sorted.at(0).at(0).toInt());
    EXPECT_EQ(click.descending, sorted.at(0).at(1).toBool());
    const ViewOptions options = view.CaptureViewOptions();
    EXPECT_EQ(click.key, options.sort_column);
    EXPECT_EQ(click.descending, options.sort_descending != 0);
    EXPECT_EQ(section, header->sortIndicatorSection());
    EXPECT_EQ(click.descending ? Qt::DescendingOrder : Qt::AscendingOrder,
              header->sortIndicatorOrder());
  }
  // Name descending: r9 before r11 before r0 (case-folded byte order).
  EXPECT_STREQ("r9", view.results()->RowRecord(0)->name());
  EXPECT_STREQ("r0", view.results()->RowRecord(11)->name());
}

TEST(ResultsView, ClicksKeysAndTheFocusSignalTheForm) {
  enum Action { kClickRow, kClickEmpty, kDelete, kShiftDelete, kEnter, kDoubleClick, kMenu };
  const struct {
    Action action;
    std::vector<int> selected_before;
    int selecting_clicks;  // a find stops
    int opens;
    int deletes;
    bool permanently;
    int menus;
  } kCases[] = {
      {kClickRow, {}, 1, 0, 0, false, 0},
      {kClickEmpty, {1}, 0, 0, 0, false, 0},
      {kDelete, {1}, 1, 0, 1, false, 0},
      {kShiftDelete, {1}, 1, 0, 1, true, 0},
      {kEnter, {2}, 1, 1, 0, false, 0},
      {kDoubleClick, {}, 1, 1, 0, false, 0},
      {kMenu, {2}, 1, 0, 0, false, 1},
      {kMenu, {}, 0, 0, 0, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "action " << c.action);
    ViewFixture fixture(3);
    ResultsView& view = fixture.view;
    fixture.running = true;  // a running find: the focus selects nothing
    view.setFocus();
    QApplication::processEvents();
    fixture.SelectRows(c.selected_before);
    QSignalSpy selecting(&view, &ResultsView::selectingClick);
    QSignalSpy opens(&view, &ResultsView::openRequested);
    QSignalSpy deletes(&view, &ResultsView::deleteRequested);
    QSignalSpy menus(&view, &ResultsView::contextMenuRequestedAt);
    QWidget* viewport = view.viewport();
    switch (c.action) {
      case kClickRow:
        QTest::mouseClick(viewport, Qt::LeftButton, {}, fixture.RowCenter(1));
        break;
      case kClickEmpty:
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
        break;
      case kDelete:
        QTest::keyClick(&view, Qt::Key_Delete);
        break;
      case kShiftDelete:
        QTest::keyClick(&view, Qt::Key_Delete, Qt::ShiftModifier);
        break;
      case kEnter:
        QTest::keyClick(&view, Qt::Key_Return);
        break;
      case kDoubleClick:  // the first click, then the second as a double click
        QTest::mouseClick(viewport, Qt::LeftButton, {}, fixture.RowCenter(0));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, fixture.RowCenter(0));
        break;
      case kMenu: {
        const QPoint at = fixture.RowCenter(2);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
        break;
      }
    }
    QApplication::processEvents();
    EXPECT_EQ(c.selecting_clicks, selecting.count());
    EXPECT_EQ(c.opens, opens.count());
    ASSERT_EQ(c.deletes, deletes.count());
    if (c.deletes) {
      EXPECT_EQ(c.permanently, deletes.at(0).at(0).toBool());
    }
    EXPECT_EQ(c.menus, menus.count());
  }

  // Idle, the list gaining the focus with nothing selected selects the
  // first row.
  ViewFixture idle(3);
  QWidget other;
  other.show();
  other.setFocus();
  idle.view.setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(idle.view.selectionModel()->isRowSelected(0));
  EXPECT_EQ(0, idle.view.currentIndex().row());
}

TEST(ResultsView, SelectAllInvertAndTheWalkOverTheSelection) {
  ViewFixture fixture(6);
  ResultsView& view = fixture.view;
  QSignalSpy status(&view, &ResultsView::statusText);
  auto walk = [&] {
    std::vector<std::string> paths;
    std::string path;
    int cursor = 0;
    while (view.NextSelectedPath(&cursor, &path)) paths.push_back(path);
    EXPECT_EQ(0, cursor);
    return paths;
  };

  fixture.SelectRows({1, 2, 4});
  EXPECT_EQ((std::vector<std::string>{"T:\\f\\r1", "T:\\f\\r2", "T:\\f\\r4"}), walk());
  int cursor = 2;  // from the middle of the selection
  std::string path;
  EXPECT_TRUE(view.NextSelectedPath(&cursor, &path) && path == "T:\\f\\r2" && cursor == 3);

  view.InvertSelection();
  EXPECT_EQ((std::vector<std::string>{"T:\\f\\r0", "T:\\f\\r3", "T:\\f\\r5"}), walk());
  ASSERT_EQ(1, status.count());
  EXPECT_EQ(QString("Selected 3 of 6 files."), status.at(0).at(0).toString());
  view.SelectAllRows();
  EXPECT_EQ(6u, walk().size());
  EXPECT_EQ(QString("Selected 6 of 6 files."), status.at(1).at(0).toString());
  view.InvertSelection();
  EXPECT_TRUE(walk().empty());
  EXPECT_EQ(QString("Selected none of the 6 files."), status.at(2).at(0).toString());
}

TEST(ResultsView, ColumnsKeepTheirWidthsWhileHiddenAndFitTheList) {
  ViewFixture fixture(4);
  ResultsView& view = fixture.view;
  QHeaderView* header = view.header();
  auto total_width = [&] {
    int sum = 0;
    for (int section = 0; section < header->count(); ++section) sum += header->sectionSize(section);
    return sum;
  };
  // A fresh block: Name and Folder, sorted by Folder, filling the list.
  view.SetViewOptions(ViewOptions::Defaults());
  ASSERT_EQ(2, header->count());
  EXPECT_EQ(view.results()->ModelColumn(kColumnFolder), header->sortIndicatorSection());
  EXPECT_EQ(Qt::AscendingOrder, header->sortIndicatorOrder());
  EXPECT_LE(total_width(), view.viewport()->width());
  EXPECT_GE(total_width(), view.viewport()->width() - header->count());

  fixture.SelectRows({1, 3});
  ViewOptions options = view.CaptureViewOptions();
  options.show_type = 1;
  options.column_widths[kColumnType] = 150;
  view.SetViewOptions(options);
  ASSERT_EQ(3, header->count());
  EXPECT_GE(total_width(), view.viewport()->width() - header->count());
  // The selection still covers whole rows, the new column included.
  EXPECT_TRUE(view.selectionModel()->isRowSelected(1));
  EXPECT_TRUE(view.selectionModel()->isRowSelected(3));
  EXPECT_FALSE(view.selectionModel()->isRowSelected(0));

  const ViewOptions shown = view.CaptureViewOptions();
  const int type_width = shown.column_widths[kColumnType];
  options = shown;
  options.show_type = 0;
  view.SetViewOptions(options);
  EXPECT_EQ(2, header->count());
  EXPECT_EQ(type_width, view.CaptureViewOptions().column_widths[kColumnType]);
  options = view.CaptureViewOptions();
  options.show_type = 1;
  view.SetViewOptions(options);
  // Shown again at its old width, then fitted with the others.
  const auto share = [](const ViewOptions& o) {
    return double(o.column_widths[kColumnType]) /
           (o.column_widths[kColumnName] + o.column_widths[kColumnFolder] +
            o.column_widths[kColumnType]);
  };
  EXPECT_NEAR(share(options), share(view.CaptureViewOptions()), 0.01);
}

}  // namespace
}  // namespace quindelo::ui
