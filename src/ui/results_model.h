// ResultsModel: the rows of the results list, a table over the rows of one
// ResultSet (search/result_set.h), which tells the model of every change it
// makes. The model keeps no rows of its own; every text and image is
// computed from the record
// when a cell is drawn, and a record's details (icon, type, size and date)
// are fetched from the file system the first time a drawn cell needs them,
// never while the deferred-details flag is set.
//
// Columns: Name and Folder always, then Type, Size and Date while their show
// flags are set, in that fixed order. ModelColumn and ViewColumnAt map
// between a ViewColumn (view_options.h) and the model's column.
//
// Sorting reorders the result set's rows between layoutAboutToBeChanged and
// layoutChanged, so selections and the current row (persistent indexes)
// follow their records.
//
// A row whose file has vanished (its size and date, fetched for its Name
// cell or before it, say the file was not found, and a second look finds
// nothing either) is removed shortly after its Name cell was asked for: the removal is queued,
// since a model must not change while a view paints it. While details are
// deferred such a row stays.
//
// Thread-safety: none. Every call belongs to the thread that owns the model
// and its result set (the GUI thread).
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>

#include "app/view_options.h"
#include "search/found_file.h"
#include "search/result_set.h"

namespace quindelo::ui {

class FileTypes;

class ResultsModel : public QAbstractTableModel, public ResultSet::Listener {
  Q_OBJECT

 public:
  explicit ResultsModel(QObject* parent = nullptr);
  ~ResultsModel() override;

  // The rows shown (the driver's result_set()); null detaches. Not owned;
  // it must outlive its use here, and its listener is this model while it
  // is set. Its pool is given file_types() as its type provider, so that
  // the icon indexes it fetches are this model's; a result set left by a
  // later SetResultSet gets the core's default provider back.
  // REQUIRES: no other thread fetches details from the pool meanwhile.
  void SetResultSet(ResultSet* rows);
  ResultSet* result_set() const { return results_; }

  // The deferred-details flag (the driver's deferred_details()). While it
  // answers true nothing is fetched for drawing. Empty: never deferred.
  void SetDeferredDetails(std::function<bool()> deferred);

  // The desktop's file types and icons: the model's own, or the one given
  // to SetFileTypes (not owned; null: the model's own again). The icon index
  // of a record is an index into its icon list.
  void SetFileTypes(const FileTypes* types);
  const FileTypes* file_types() const { return types_; }

  // Icons, extensions, optional columns, sort key and descending flag. The
  // columns are inserted and removed to match (rows keep their records);
  // the rows are not re-sorted here (see sort()).
  void SetViewOptions(const ViewOptions& options);
  const ViewOptions& view_options() const { return options_; }
  // Native paths in the Folder column and the tooltips (the folder's
  // native path) or drive paths (off). Redraws every row.
  void SetNativePaths(bool on);
  bool native_paths() const { return native_paths_; }
  // The sort key and descending flag of the view options, for
  // CompareFoundFiles.
  SortOrder sort_order() const;

  int RowCount() const;
  // Null when row is out of range.
  FoundFile* RowRecord(int row) const;
  // Deletes every row of the result set (a model reset).
  void DeleteAllRows();

  // The model column of a ViewColumn, or -1 when that column is hidden.
  int ModelColumn(int view_column) const;
  // The ViewColumn of a model column, or -1 when out of range.
  int ViewColumnAt(int model_column) const;

  // Sorts by the ViewColumn of column (Name when out of range), descending
  // for Qt::DescendingOrder, and makes that the sort key of the view
  // options. Records are fetched what the key needs first.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  // Re-sorts the rows under the current sort key and descending flag. A
  // sort by type, size or date needs those details of every row: when more
  // than kInlineDetailRows rows lack them, they are looked up on a worker
  // thread and the rows are sorted once they are there (sortPending tells
  // when the wait starts and ends; the sort key is the new one at once).
  // Fewer are looked up here. Rows inserted meanwhile are sorted with the
  // rest; a later sort, or the rows being deleted, drops the wait.
  void Resort();
  // Whether rows wait for details to be sorted.
  bool sort_pending() const { return detail_job_ != nullptr; }
  static constexpr std::size_t kInlineDetailRows = 64;

  // ---- QAbstractTableModel.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // ---- ResultSet::Listener.
  void BeginInsertRows(int first, int count) override;
  void EndInsertRows() override;
  void BeginRemoveRows(int first, int count) override;
  void EndRemoveRows() override;
  void BeginReset() override;
  void EndReset() override;
  void BeginReorder() override;
  void EndReorder() override;

  // Removes at once the rows found vanished by drawing (the queued removal
  // calls it; tests may too). Returns the number of rows removed.
  int RemoveVanishedRows();

 signals:
  // Rows of vanished files were removed; the view repaints.
  void vanishedRowsRemoved(int count);
  // A sort started waiting for the details it needs (true), or stopped
  // waiting: the rows are sorted, or the wait was dropped (false).
  void sortPending(bool pending);

 private:
  bool Deferred() const { return deferred_ && deferred_(); }
  void Fetch(FoundFile* record, FileDetail what) const;
  QVariant DisplayText(FoundFile* record, int view_column) const;
  QVariant Decoration(FoundFile* record) const;
  // Size and date for the Name cell; true when the file turned out gone
  // (the row is then queued for removal).
  bool CheckVanished(FoundFile* record) const;
  // Whether the record's size and date were fetched and say the file is
  // gone, and a second look does not find it either.
  bool FoundGone(const FoundFile* record) const;
  std::vector<int> ShownColumns(const ViewOptions& options) const;
  // A drive path as the list shows it: native with native_paths_ on.
  QString ShownPath(const std::string& drive_path) const;
  // Reorders the rows by order; every record has what order needs.
  void SortRows(SortOrder order);
  struct DetailJob;
  void StartDetailJob(std::vector<FoundFile*> records, FileDetail what);
  void FinishDetailJob(const std::shared_ptr<DetailJob>& job);
  // Stops and joins the worker, if any; emits sortPending(false) when a sort
  // was waiting.
  void DropDetailJob();

  ResultSet* results_ = nullptr;
  // The persistent indexes of a reorder under way, with their records.
  QModelIndexList reorder_from_;
  std::vector<const FoundFile*> reorder_records_;
  std::unique_ptr<FileTypes> own_types_;
  const FileTypes* types_ = nullptr;
  std::function<bool()> deferred_;
  ViewOptions options_;
  bool native_paths_ = false;
  std::vector<int> columns_;  // ViewColumn of each model column
  // Records found vanished by data(), removed by RemoveVanishedRows. Only
  // compared as pointers, and cleared whenever the rows are deleted, so
  // that a pointer reused by a later result set never removes its row.
  mutable std::unordered_set<const FoundFile*> vanished_;
  // Records whose time looked like a failed lookup but whose files exist.
  mutable std::unordered_set<const FoundFile*> present_;
  mutable bool removal_queued_ = false;
  // The details a waiting sort needs, looked up by detail_thread_. The job
  // is shared with the worker, which writes only its results and reads only
  // its paths; the records stay with this thread. Rows deleted since the
  // job started (result set generations differ) drop its results.
  std::shared_ptr<DetailJob> detail_job_;
  std::thread detail_thread_;
  std::uint64_t generation_ = 0;
};

}  // namespace quindelo::ui
