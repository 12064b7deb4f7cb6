// ResultsView: the results list of the find form, a QTreeView over a
// ResultsModel with uniform row heights (what keeps paging through many
// thousands of rows quick), no root decoration and extended row selection.
//
// The view owns its model. It turns the user's actions into signals for the
// form (which owns the search driver and the file commands):
//   - a click that leaves at least one row selected emits selectingClick (the
//     form stops a running find); a click on empty space that selects
//     nothing does not;
//   - every click and every key updates the selection status line
//     (statusText), unless a find is running;
//   - Delete and Shift+Delete emit deleteRequested; a double click and Enter
//     emit openRequested;
//   - a header click sorts: the key of the clicked column, or, when that
//     column is already the key, the descending flag flips (another column
//     keeps the flag); sortChanged tells the form the new order.
//
// Columns are fitted to the list's width: after the view options are
// applied, when the list is shown or resized, and when the user finishes
// dragging a column divider (the dragged column keeps its width, the others
// share the rest in proportion to their widths). A list not yet shown keeps
// the widths it was given, since it has no real width to fit to.
//
// GUI thread only.
#pragma once

#include <QTreeView>
#include <functional>
#include <string>
#include <vector>

#include "app/view_options.h"
#include "commands/selection.h"
#include "ui/results_model.h"

namespace quindelo::ui {

class ResultsView : public QTreeView {
  Q_OBJECT

 public:
  explicit ResultsView(QWidget* parent = nullptr);
  ~ResultsView() override;

  ResultsModel* results() const { return model_; }

  // Whether a find is running (the driver's running()); while it answers
  // true the selection status line belongs to the driver and is left alone,
  // and the list gaining the focus selects nothing. Empty: never running.
  void SetFindRunning(std::function<bool()> running);

  // Reads the status line as it is shown now (the form's status text).
  // While a sort waits for the details it needs, the status line reads
  // "Sorting..."; afterwards the text from before comes back, unless
  // something else was written meanwhile. Empty: the selection status is
  // written afterwards instead.
  void SetStatusReader(std::function<QString()> reader);

  // Writes the selection status line: emits statusText with the text for
  // the selected rows among all rows. Does nothing while a find runs.
  void ShowSelectionStatus();

  // The walk over the selection for the file commands. *cursor 0 starts
  // before the first row. When a selected row at or after *cursor exists,
  // sets *path to its full path (cut to 259 characters), *cursor to that row
  // plus 1, and returns true; otherwise sets *cursor to 0 and returns false.
  bool NextSelectedPath(int* cursor, std::string* path);
  // Every selected row's drive path and native path, in list order (the
  // drive table read once per letter).
  std::vector<commands::SelectedFile> SelectedFiles() const;

  // Select All and Invert Selection; both then write the status line.
  void SelectAllRows();
  void InvertSelection();
  int SelectedRowCount() const;

  // Fits the columns to the list's width with no column fixed.
  void FitColumns();

  // Applies a view options block: columns shown (each at its stored width,
  // or its standard width when that is 0 or less), icons, extensions and
  // the sort order (the rows are re-sorted when the order changed); then the
  // columns are fitted. The selection is kept.
  void SetViewOptions(const ViewOptions& options);
  // The block as the list now shows it: flags and sort order, and the width
  // of every shown column; a hidden column's width is the one it had when
  // last shown (or the stored one).
  ViewOptions CaptureViewOptions() const;

  // The standard width of a ViewColumn in the list's font: the width of "0"
  // times 24, 41, 17, 11 or 22.
  int StandardColumnWidth(int view_column) const;

  // The height at which a view draws its icons (its icon size, else the
  // style's small icon size); every row is at least this plus 1 tall.
  static int IconHeight(const QAbstractItemView& view);

  // The header click: sorts as described above and emits sortChanged.
  void SortByHeader(int view_column);

 signals:
  void statusText(const QString& text);   // to the first status pane
  void selectingClick();                  // a click that left rows selected
  void openRequested();                   // double click, Enter
  void deleteRequested(bool permanently);  // Delete, Shift+Delete
  void sortChanged(int view_column, bool descending);  // header click
  void contextMenuRequestedAt(const QPoint& global_pos);
  void columnsResizedByUser();  // a divider drag ended (the view changed)
  void filesMovedByDrag();      // a drag of rows out of the list ended in a move

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Drags the selected files out (copy, move or link); see file_clipboard.h.
  void startDrag(Qt::DropActions supported_actions) override;

 private:
  bool FindRunning() const { return find_running_ && find_running_(); }
  // The selection events' common tail: a click with rows selected stops a
  // find; the status line follows.
  void OnListClicked();
  void FitColumnsExcept(int dragged_section);
  void UpdateSortIndicator();

  ResultsModel* model_;
  std::function<bool()> find_running_;
  std::function<QString()> status_reader_;
  QString status_before_sort_;
  // Width of each ViewColumn while shown, kept while it is hidden.
  std::array<std::int32_t, kViewColumnCount> widths_{};
  bool fitting_ = false;            // FitColumns must not re-enter itself
  // Section widths the last fit started from, and those it left.
  std::vector<int> fit_base_;
  std::vector<int> fitted_;
  int dragged_section_ = -1;        // a divider being dragged by the user
  bool divider_pressed_ = false;
};

}  // namespace quindelo::ui
