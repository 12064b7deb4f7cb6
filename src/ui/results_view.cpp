#include "ui/results_view.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>
#include <vector>

#include "search/cell_text.h"
#include "ui/file_clipboard.h"
#include "ui/native_text.h"

namespace quindelo::ui {

namespace {

constexpr char kSortingText[] = "Sorting...";

// Standard widths, in widths of "0" in the list's font.
constexpr int kStandardWidthDigits[kViewColumnCount] = {24, 41, 17, 11, 22};

// The selected rows as sorted, merged runs [first, last].
std::vector<std::pair<int, int>> SelectedRuns(const QItemSelectionModel* selection) {
  std::vector<std::pair<int, int>> runs;
  if (!selection) return runs;
  const QItemSelection ranges = selection->selection();
  runs.reserve(static_cast<std::size_t>(ranges.size()));
  for (const QItemSelectionRange& range : ranges)
    if (range.isValid()) runs.emplace_back(range.top(), range.bottom());
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<int, int>> merged;
  for (const auto& run : runs) {
    if (!merged.empty() && run.first <= merged.back().second + 1)
      merged.back().second = std::max(merged.back().second, run.second);
    else
      merged.push_back(run);
  }
  return merged;
}

// Every row is at least as tall as an icon plus a pixel, whether or not its
// icon is fetched yet: with uniform row heights the first row drawn sets
// the height of all, and after a fast fill it has no icon.
//
// Folders of one find share their beginning (the drive and the folders
// above the found ones); what tells rows apart is at their end, so the
// Folder column's delegate cuts a text too long for it in its middle.
class RowDelegate : public QStyledItemDelegate {
 public:
  RowDelegate(Qt::TextElideMode elide, QAbstractItemView* view)
      : QStyledItemDelegate(view), elide_(elide), view_(view) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), ResultsView::IconHeight(*view_) + 1));
    return size;
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = elide_;
  }

 private:
  Qt::TextElideMode elide_;
  QAbstractItemView* view_;
};

}  // namespace

ResultsView::ResultsView(QWidget* parent) : QTreeView(parent), model_(new ResultsModel(this)) {
  setModel(model_);
  setUniformRowHeights(true);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setSortingEnabled(false);  // header clicks sort through SortByHeader
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setItemDelegate(new RowDelegate(Qt::ElideRight, this));
  // Name and Folder are always the first two columns.
  setItemDelegateForColumn(1, new RowDelegate(Qt::ElideMiddle, this));
  setAccessibleName(QStringLiteral("Found files"));
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);

  QHeaderView* head = header();
  head->setSectionsMovable(false);
  head->setSectionsClickable(true);
  head->setSortIndicatorShown(true);
  head->setStretchLastSection(false);
  head->setSectionResizeMode(QHeaderView::Interactive);
  head->viewport()->installEventFilter(this);
  connect(head, &QHeaderView::sectionClicked, this,
          [this](int section) { SortByHeader(model_->ViewColumnAt(section)); });
  connect(head, &QHeaderView::sectionResized, this, [this](int section, int, int) {
    if (divider_pressed_ && !fitting_) dragged_section_ = section;
  });
  connect(model_, &ResultsModel::vanishedRowsRemoved, this, [this] { viewport()->update(); });
  connect(model_, &ResultsModel::sortPending, this, [this](bool pending) {
    if (pending) {
      status_before_sort_ = status_reader_ ? status_reader_() : QString();
      emit statusText(QString::fromLatin1(kSortingText));
    } else if (!status_reader_) {
      ShowSelectionStatus();
    } else if (status_reader_() == QLatin1String(kSortingText)) {
      emit statusText(status_before_sort_);
    }
  });

  SetViewOptions(model_->view_options());
}

ResultsView::~ResultsView() = default;

void ResultsView::SetStatusReader(std::function<QString()> reader) {
  status_reader_ = std::move(reader);
}

void ResultsView::SetFindRunning(std::function<bool()> running) {
  find_running_ = std::move(running);
}

int ResultsView::SelectedRowCount() const {
  int count = 0;
  for (const auto& run : SelectedRuns(selectionModel())) count += run.second - run.first + 1;
  return count;
}

void ResultsView::ShowSelectionStatus() {
  if (FindRunning()) return;
  emit statusText(FromUtf8(SelectionStatusText(SelectedRowCount(), model_->RowCount())));
}

void ResultsView::startDrag(Qt::DropActions) {
  const std::vector<std::string> paths = SelectedNativePaths(*this);
  if (paths.empty()) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(MakeDragMimeData(paths));
  // Files moved away are gone from the disk; the list catches up by a refresh.
  if (drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction) ==
      Qt::MoveAction)
    emit filesMovedByDrag();
}

namespace {

// The selected runs of rows as the commands' selection walk reads them.
class RunSelection : public commands::RowSelection {
 public:
  RunSelection(std::vector<std::pair<int, int>> runs, const ResultsModel* model)
      : runs_(std::move(runs)), model_(model) {}
  int NextSelectedRow(int after) const override {
    for (const auto& run : runs_)
      if (run.second > after) return std::max(run.first, after + 1);
    return -1;
  }
  const FoundFile* RowRecord(int row) const override { return model_->RowRecord(row); }

 private:
  std::vector<std::pair<int, int>> runs_;
  const ResultsModel* model_;
};

}  // namespace

std::vector<commands::SelectedFile> ResultsView::SelectedFiles() const {
  return commands::CollectSelectedFiles(RunSelection(SelectedRuns(selectionModel()), model_));
}

bool ResultsView::NextSelectedPath(int* cursor, std::string* path) {
  const int from = std::max(*cursor, 0);
  for (const auto& run : SelectedRuns(selectionModel())) {
    if (run.second < from) continue;
    const int row = std::max(run.first, from);
    const FoundFile* record = model_->RowRecord(row);
    if (!record) break;
    *path = FullPath(*record);
    *cursor = row + 1;
    return true;
  }
  *cursor = 0;
  return false;
}

void ResultsView::SelectAllRows() {
  selectAll();
  ShowSelectionStatus();
}

void ResultsView::InvertSelection() {
  const int rows = model_->RowCount();
  const int last_column = std::max(model_->columnCount() - 1, 0);
  QItemSelection inverted;
  int next = 0;
  auto add = [&](int first, int last) {
    if (first <= last)
      inverted.select(model_->index(first, 0), model_->index(last, last_column));
  };
  for (const auto& run : SelectedRuns(selectionModel())) {
    add(next, std::min(run.first, rows) - 1);
    next = run.second + 1;
  }
  add(next, rows - 1);
  selectionModel()->select(inverted, QItemSelectionModel::ClearAndSelect);
  ShowSelectionStatus();
}

int ResultsView::IconHeight(const QAbstractItemView& view) {
  const QSize size = view.iconSize();
  if (size.isValid()) return size.height();
  return view.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &view);
}

int ResultsView::StandardColumnWidth(int view_column) const {
  if (view_column < 0 || view_column >= kViewColumnCount) return 0;
  return fontMetrics().horizontalAdvance(QLatin1Char('0')) * kStandardWidthDigits[view_column];
}

void ResultsView::FitColumns() { FitColumnsExcept(-1); }

void ResultsView::FitColumnsExcept(int dragged_section) {
  // A list not shown yet has no real width: its columns keep the widths
  // they were given until it is shown.
  if (fitting_ || !isVisible()) return;
  const int sections = header()->count();
  std::vector<int> current(static_cast<std::size_t>(sections));
  for (int section = 0; section < sections; ++section)
    current[static_cast<std::size_t>(section)] = header()->sectionSize(section);
  // While the sections are still as the last fit left them, fit from the
  // widths that fit started from: fitting through a passing small width
  // (a window being laid out) would otherwise round the proportions away.
  if (dragged_section >= 0 || current != fitted_ || fit_base_.size() != current.size())
    fit_base_ = current;
  long long available = viewport()->width();
  if (dragged_section >= 0 && dragged_section < sections)
    available -= current[static_cast<std::size_t>(dragged_section)];
  long long others = 0;
  for (int section = 0; section < sections; ++section)
    if (section != dragged_section) others += fit_base_[static_cast<std::size_t>(section)];
  if (available <= 0 || others <= 0) return;
  fitting_ = true;
  for (int section = 0; section < sections; ++section) {
    if (section == dragged_section) continue;
    const long long width =
        available == others ? fit_base_[static_cast<std::size_t>(section)]
                            : available * fit_base_[static_cast<std::size_t>(section)] / others;
    if (width != current[static_cast<std::size_t>(section)])
      header()->resizeSection(section, static_cast<int>(std::max(width, 1LL)));
  }
  fitting_ = false;
  fitted_.resize(static_cast<std::size_t>(sections));
  for (int section = 0; section < sections; ++section)
    fitted_[static_cast<std::size_t>(section)] = header()->sectionSize(section);
  // A dragged divider sets new proportions.
  if (dragged_section >= 0) fit_base_ = fitted_;
}

void ResultsView::UpdateSortIndicator() {
  const ViewOptions& options = model_->view_options();
  const int section = model_->ModelColumn(options.SortKey());
  header()->setSortIndicator(section,
                             options.sort_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void ResultsView::SetViewOptions(const ViewOptions& options) {
  const ViewOptions old = model_->view_options();
  const bool resort = old.SortKey() != options.SortKey() ||
                      (old.sort_descending != 0) != (options.sort_descending != 0);
  widths_ = options.column_widths;
  model_->SetViewOptions(options);
  for (int section = 0; section < model_->columnCount(); ++section) {
    const int column = model_->ViewColumnAt(section);
    const int width = widths_[static_cast<std::size_t>(column)];
    header()->resizeSection(section, width > 0 ? width : StandardColumnWidth(column));
  }
  if (resort) model_->Resort();

  // Columns that came in are outside the selection of their rows: select
  // the rows again, whole.
  const auto runs = SelectedRuns(selectionModel());
  if (!runs.empty()) {
    QItemSelection again;
    const int last_column = std::max(model_->columnCount() - 1, 0);
    for (const auto& run : runs)
      again.select(model_->index(run.first, 0), model_->index(run.second, last_column));
    selectionModel()->select(again, QItemSelectionModel::ClearAndSelect);
  }
  UpdateSortIndicator();
  FitColumns();
  viewport()->update();
}

ViewOptions ResultsView::CaptureViewOptions() const {
  ViewOptions options = model_->view_options();
  options.column_widths = widths_;
  for (int section = 0; section < model_->columnCount(); ++section) {
    const int column = model_->ViewColumnAt(section);
    options.column_widths[static_cast<std::size_t>(column)] = header()->sectionSize(section);
  }
  return options;
}

void ResultsView::SortByHeader(int view_column) {
  if (view_column < 0 || view_column >= kViewColumnCount) return;
  ViewOptions options = model_->view_options();
  if (options.SortKey() == view_column)
    options.sort_descending = options.sort_descending ? 0 : 1;
  else
    options.sort_column = view_column;
  model_->SetViewOptions(options);
  model_->Resort();
  UpdateSortIndicator();
  emit sortChanged(view_column, options.sort_descending != 0);
}

void ResultsView::OnListClicked() {
  if (SelectedRowCount() > 0) emit selectingClick();
  ShowSelectionStatus();
}

void ResultsView::mouseReleaseEvent(QMouseEvent* event) {
  // After the release: a click on empty space clears the selection only
  // then.
  QTreeView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) OnListClicked();
}

void ResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
    emit openRequested();
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
  if (key == Qt::Key_Delete) {
    event->accept();
  } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    event->accept();
  } else {
    QTreeView::keyPressEvent(event);
  }
  // A modifier alone changes nothing.
  if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
      key == Qt::Key_Meta || key == Qt::Key_AltGr)
    return;
  // Posted, like the click the key stands for, so that the status line (and
  // the command) see the selection the key has left.
  QMetaObject::invokeMethod(this, [this] { OnListClicked(); }, Qt::QueuedConnection);
  if (key == Qt::Key_Delete)
    QMetaObject::invokeMethod(
        this, [this, shift] { emit deleteRequested(shift); }, Qt::QueuedConnection);
  else if (key == Qt::Key_Return || key == Qt::Key_Enter)
    QMetaObject::invokeMethod(this, [this] { emit openRequested(); }, Qt::QueuedConnection);
}

void ResultsView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  if (FindRunning() || model_->RowCount() == 0 || SelectedRowCount() > 0) return;
  const QModelIndex first = model_->index(0, 0);
  selectionModel()->setCurrentIndex(
      first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ResultsView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  FitColumns();
}

void ResultsView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  FitColumns();
}

bool ResultsView::viewportEvent(QEvent* event) {
  const bool handled = QTreeView::viewportEvent(event);
  // The viewport also narrows when a scroll bar comes in.
  if (event->type() == QEvent::Resize) FitColumns();
  return handled;
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
  const bool selected = SelectedRowCount() > 0;
  if (selected) emit selectingClick();
  ShowSelectionStatus();
  if (selected) emit contextMenuRequestedAt(event->globalPos());
  event->accept();
}

bool ResultsView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == header()->viewport()) {
    if (event->type() == QEvent::MouseButtonPress) {
      divider_pressed_ = true;
      dragged_section_ = -1;
    } else if (event->type() == QEvent::MouseButtonRelease) {
      divider_pressed_ = false;
      const int dragged = std::exchange(dragged_section_, -1);
      if (dragged >= 0) {
        // Let the header finish its own release first.
        QMetaObject::invokeMethod(
            this,
            [this, dragged] {
              FitColumnsExcept(dragged);
              emit columnsResizedByUser();
            },
            Qt::QueuedConnection);
      }
    }
  }
  return QTreeView::eventFilter(watched, event);
}

}  // namespace quindelo::ui
