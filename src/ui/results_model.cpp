#include "platform/thread_name.h"
#include "ui/plain_text_boxes.h"
#include "ui/results_model.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <unordered_map>

#include "platform/folder.h"
#include "platform/paths.h"
#include "search/cell_text.h"
#include "ui/file_types.h"
#include "ui/native_text.h"

namespace quindelo::ui {

namespace {

const char* const kHeaderTexts[kViewColumnCount] = {"Name", "Folder", "Type", "Size", "Date"};

bool Shown(const ViewOptions& options, int view_column) {
  switch (view_column) {
    case kColumnName:
    case kColumnFolder:
      return true;
    case kColumnType:
      return options.show_type != 0;
    case kColumnSize:
      return options.show_size != 0;
    case kColumnDate:
      return options.show_date != 0;
    default:
      return false;
  }
}

// Whether the record's file or folder is still there (a link counts as
// itself, never followed).
bool Exists(const FoundFile& record) {
  std::string native;
  platform::FindData data;
  return platform::ToNativePath(UncutPath(record), &native) &&
         platform::GetFindData(native, &data);
}

}  // namespace

namespace {

std::mutex& HandOverLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

struct ResultsModel::DetailJob {
  FileDetail what = FileDetail::kSizeAndDate;
  std::uint64_t generation = 0;
  std::vector<FoundFile*> records;  // the owning thread's only
  std::vector<std::string> paths;   // uncut paths, then names, per record
  std::vector<std::string> names;
  std::vector<FileDetailLookup> found;  // the worker's until it is joined
  std::atomic<bool> cancel{false};
};

ResultsModel::ResultsModel(QObject* parent)
    : QAbstractTableModel(parent), own_types_(std::make_unique<FileTypes>()) {
  types_ = own_types_.get();
  columns_ = ShownColumns(options_);
}

ResultsModel::~ResultsModel() {
  if (detail_job_) detail_job_->cancel = true;
  if (detail_thread_.joinable()) detail_thread_.join();
}

void ResultsModel::SetResultSet(ResultSet* rows) {
  if (rows == results_) return;
  DropDetailJob();
  ++generation_;
  beginResetModel();
  if (results_) {
    results_->set_listener(nullptr);
    results_->set_keep_filter(nullptr);
    results_->pool().set_type_provider(nullptr);
  }
  results_ = rows;
  if (results_) {
    results_->set_listener(this);
    // Records whose files the comparisons of the sorted insertion already
    // found gone get no row, so that the rows counted are the rows shown.
    results_->set_keep_filter([this](FoundFile* record) { return !FoundGone(record); });
    results_->pool().set_type_provider(types_);
  }
  vanished_.clear();
  present_.clear();
  endResetModel();
}

void ResultsModel::SetDeferredDetails(std::function<bool()> deferred) {
  deferred_ = std::move(deferred);
}

void ResultsModel::SetFileTypes(const FileTypes* types) {
  types_ = types ? types : own_types_.get();
  if (results_) results_->pool().set_type_provider(types_);
}

std::vector<int> ResultsModel::ShownColumns(const ViewOptions& options) const {
  std::vector<int> columns;
  for (int column = 0; column < kViewColumnCount; ++column)
    if (Shown(options, column)) columns.push_back(column);
  return columns;
}

void ResultsModel::SetViewOptions(const ViewOptions& options) {
  const std::vector<int> wanted = ShownColumns(options);
  // Hidden columns go first, from the right, then the newly shown ones come
  // in at their places in the fixed order: rows, selections and the other
  // columns stay as they are.
  for (int model_column = static_cast<int>(columns_.size()) - 1; model_column >= 0;
       --model_column) {
    if (std::find(wanted.begin(), wanted.end(), columns_[model_column]) != wanted.end()) continue;
    beginRemoveColumns(QModelIndex(), model_column, model_column);
    columns_.erase(columns_.begin() + model_column);
    endRemoveColumns();
  }
  for (int model_column = 0; model_column < static_cast<int>(wanted.size()); ++model_column) {
    if (model_column < static_cast<int>(columns_.size()) &&
        columns_[model_column] == wanted[model_column])
      continue;
    beginInsertColumns(QModelIndex(), model_column, model_column);
    columns_.insert(columns_.begin() + model_column, wanted[model_column]);
    endInsertColumns();
  }
  const bool redraw = options.show_icon != options_.show_icon ||
                      options.show_extension != options_.show_extension;
  options_ = options;
  if (redraw && RowCount() > 0)
    emit dataChanged(index(0, 0), index(RowCount() - 1, 0),
                     {Qt::DisplayRole, Qt::DecorationRole});
}

SortOrder ResultsModel::sort_order() const {
  SortOrder order;
  order.key = static_cast<SortKey>(options_.SortKey());
  order.descending = options_.sort_descending != 0;
  return order;
}

int ResultsModel::RowCount() const { return results_ ? results_->row_count() : 0; }

FoundFile* ResultsModel::RowRecord(int row) const { return results_ ? results_->row(row) : nullptr; }

void ResultsModel::DeleteAllRows() {
  if (results_) results_->Clear();
}

// ---- The result set's changes, announced as Qt wants them.

void ResultsModel::BeginInsertRows(int first, int count) {
  beginInsertRows(QModelIndex(), first, first + count - 1);
}

void ResultsModel::EndInsertRows() { endInsertRows(); }

void ResultsModel::BeginRemoveRows(int first, int count) {
  beginRemoveRows(QModelIndex(), first, first + count - 1);
}

void ResultsModel::EndRemoveRows() { endRemoveRows(); }

void ResultsModel::BeginReset() {
  DropDetailJob();
  ++generation_;
  beginResetModel();
}

void ResultsModel::EndReset() {
  vanished_.clear();
  present_.clear();
  endResetModel();
}

void ResultsModel::BeginReorder() {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Persistent indexes follow their records.
  reorder_from_ = persistentIndexList();
  reorder_records_.clear();
  reorder_records_.reserve(static_cast<std::size_t>(reorder_from_.size()));
  for (const QModelIndex& old : reorder_from_)
    reorder_records_.push_back(old.isValid() ? RowRecord(old.row()) : nullptr);
}

void ResultsModel::EndReorder() {
  std::unordered_map<const FoundFile*, int> new_row;
  new_row.reserve(static_cast<std::size_t>(RowCount()));
  for (int row = 0; row < RowCount(); ++row) new_row.emplace(RowRecord(row), row);
  QModelIndexList to;
  to.reserve(reorder_from_.size());
  for (qsizetype i = 0; i < reorder_from_.size(); ++i) {
    const auto found = new_row.find(reorder_records_[static_cast<std::size_t>(i)]);
    to.append(found == new_row.end() ? QModelIndex()
                                     : index(found->second, reorder_from_[i].column()));
  }
  changePersistentIndexList(reorder_from_, to);
  reorder_from_.clear();
  reorder_records_.clear();
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ResultsModel::ModelColumn(int view_column) const {
  auto found = std::find(columns_.begin(), columns_.end(), view_column);
  return found == columns_.end() ? -1 : static_cast<int>(found - columns_.begin());
}

int ResultsModel::ViewColumnAt(int model_column) const {
  if (model_column < 0 || model_column >= static_cast<int>(columns_.size())) return -1;
  return columns_[static_cast<std::size_t>(model_column)];
}

void ResultsModel::sort(int column, Qt::SortOrder order) {
  int key = ViewColumnAt(column);
  options_.sort_column = key < 0 ? kColumnName : key;
  options_.sort_descending = order == Qt::DescendingOrder ? 1 : 0;
  Resort();
}

void ResultsModel::Resort() {
  if (RowCount() < 2) {
    DropDetailJob();
    return;
  }
  const SortOrder order = sort_order();
  if (order.key == SortKey::kType || order.key == SortKey::kSize || order.key == SortKey::kDate) {
    const FileDetail what =
        order.key == SortKey::kType ? FileDetail::kType : FileDetail::kSizeAndDate;
    // A worker already looking these details up sorts by the current order
    // when it is done.
    if (detail_job_ && detail_job_->what == what) return;
    std::vector<FoundFile*> missing;
    for (FoundFile* record : results_->rows())
      if (what == FileDetail::kType ? !record->type_fetched() : !record->size_fetched())
        missing.push_back(record);
    if (missing.size() > kInlineDetailRows) {
      StartDetailJob(std::move(missing), what);
      return;
    }
    // Fetched before the layout change starts, so that a pool that cannot
    // grow throws while the model is still intact.
    for (FoundFile* record : missing) FetchFileDetails(record, what, &results_->pool());
  }
  DropDetailJob();
  SortRows(order);
}

void ResultsModel::StartDetailJob(std::vector<FoundFile*> records, FileDetail what) {
  // The sort still waits, for other details: no end of the wait is told.
  if (detail_job_) detail_job_->cancel = true;
  if (detail_thread_.joinable()) detail_thread_.join();
  const bool was_pending = detail_job_ != nullptr;
  auto job = std::make_shared<DetailJob>();
  job->what = what;
  job->generation = generation_;
  job->paths.reserve(records.size());
  job->names.reserve(records.size());
  for (const FoundFile* record : records) {
    job->paths.push_back(UncutPath(*record));
    job->names.emplace_back(record->name());
  }
  job->records = std::move(records);
  detail_job_ = job;
  detail_thread_ = std::thread([this, job] {
    platform::NameThisThread("q-sort-details");
    // Its own desktop types: FileTypes answers type names on any thread,
    // and this one lives as long as the lookups do.
    const FileTypes types;
    job->found.reserve(job->paths.size());
    for (std::size_t i = 0; i < job->paths.size() && !job->cancel.load(); ++i)
      job->found.push_back(LookUpFileDetail(job->paths[i], job->names[i], job->what, types));
    if (job->cancel.load()) return;
    // The model joins this thread before it goes, so it is still there;
    // the call runs on the model's thread. The hand-over lock orders the
    // call's captures for checkers that cannot see into Qt's event queue
    // (as PostToWindow does).
    std::lock_guard<std::mutex> handing_over(HandOverLock());
    QMetaObject::invokeMethod(
        this,
        [this, job] {
          { std::lock_guard<std::mutex> handed_over(HandOverLock()); }
          FinishDetailJob(job);
        },
        Qt::QueuedConnection);
  });
  if (!was_pending) emit sortPending(true);
}

void ResultsModel::FinishDetailJob(const std::shared_ptr<DetailJob>& job) {
  if (job != detail_job_) return;  // dropped meanwhile
  if (detail_thread_.joinable()) detail_thread_.join();
  detail_job_.reset();
  if (job->generation == generation_ && results_) {
    for (std::size_t i = 0; i < job->found.size(); ++i)
      StoreFileDetail(job->records[i], job->found[i], &results_->pool());
  }
  // Sorts now, or waits for the rows that came in meanwhile.
  Resort();
  if (!detail_job_) emit sortPending(false);
}

void ResultsModel::DropDetailJob() {
  if (!detail_job_) return;
  detail_job_->cancel = true;
  if (detail_thread_.joinable()) detail_thread_.join();
  detail_job_.reset();
  emit sortPending(false);
}

void ResultsModel::SortRows(SortOrder order) { results_->Resort(order); }

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
         Qt::ItemNeverHasChildren;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QVariant();
  const int view_column = ViewColumnAt(section);
  if (view_column < 0) return QVariant();
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaderTexts[view_column]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(
        (view_column == kColumnSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  return QVariant();
}

void ResultsModel::Fetch(FoundFile* record, FileDetail what) const {
  if (results_) FetchFileDetails(record, what, &results_->pool());
}

bool ResultsModel::FoundGone(const FoundFile* record) const {
  if (!record->size_fetched() || static_cast<std::uint32_t>(record->last_write) != 0) return false;
  // A lookup that failed leaves time 0, whose low 32 bits are 0. A file that
  // exists may show the same (a real time whose low bits happen to be 0), so
  // only a second lookup that fails too counts; one that finds the file is
  // remembered, so that it is not asked again at every paint.
  if (present_.count(record)) return false;
  if (Exists(*record)) {
    present_.insert(record);
    return false;
  }
  return true;
}

bool ResultsModel::CheckVanished(FoundFile* record) const {
  if (vanished_.count(record)) return true;
  if (!results_ || Deferred()) return false;
  // Size and date may have been fetched before the Name cell was first
  // drawn (a sort by size or date, a Size cell): a file found gone then
  // goes as well.
  Fetch(record, FileDetail::kSizeAndDate);
  if (!FoundGone(record)) return false;
  vanished_.insert(record);
  if (!removal_queued_) {
    removal_queued_ = true;
    auto* self = const_cast<ResultsModel*>(this);
    QMetaObject::invokeMethod(
        self, [self] { self->RemoveVanishedRows(); }, Qt::QueuedConnection);
  }
  return true;
}

int ResultsModel::RemoveVanishedRows() {
  removal_queued_ = false;
  if (vanished_.empty() || !results_) return 0;
  const int removed = results_->Remove(vanished_);
  vanished_.clear();
  if (removed) emit vanishedRowsRemoved(removed);
  return removed;
}

QVariant ResultsModel::DisplayText(FoundFile* record, int view_column) const {
  const bool deferred = Deferred();
  switch (view_column) {
    case kColumnName:
      if (CheckVanished(record)) return QString();
      return FromNative(
          std::string(NameText(record->name(), options_.show_extension != 0)));
    case kColumnFolder:
      return ShownPath(record->folder);
    case kColumnType:
      if (deferred && !record->type_fetched()) return QString();
      Fetch(record, FileDetail::kType);
      return record->type_fetched() ? FromUtf8(record->type) : QString();
    case kColumnSize:
      if (deferred && !record->size_fetched()) return QString();
      Fetch(record, FileDetail::kSizeAndDate);
      return record->size_fetched() ? FromUtf8(SizeText(record->size)) : QString();
    case kColumnDate:
      if (deferred && !record->size_fetched()) return QString();
      Fetch(record, FileDetail::kSizeAndDate);
      return record->size_fetched() ? FromUtf8(DateText(record->last_write)) : QString();
    default:
      return QVariant();
  }
}

QString ResultsModel::ShownPath(const std::string& drive_path) const {
  std::string native;
  if (native_paths_ && platform::ToNativePath(drive_path, &native)) {
    // A drive's root is its folder's name, without the closing slash.
    if (native.size() > 1 && native.back() == '/') native.pop_back();
    return FromNative(native);
  }
  return FromNative(drive_path);
}

void ResultsModel::SetNativePaths(bool on) {
  if (on == native_paths_) return;
  native_paths_ = on;
  if (RowCount() > 0) emit dataChanged(index(0, 0), index(RowCount() - 1, columnCount() - 1));
}

QVariant ResultsModel::Decoration(FoundFile* record) const {
  if (!options_.show_icon || Deferred() || vanished_.count(record)) return QVariant();
  Fetch(record, FileDetail::kIcon);
  if (!record->icon_fetched()) return QVariant();
  return types_->Icon(record->icon);
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= RowCount()) return QVariant();
  FoundFile* record = RowRecord(index.row());
  const int view_column = ViewColumnAt(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return DisplayText(record, view_column);
    case Qt::DecorationRole:
      return view_column == kColumnName ? Decoration(record) : QVariant();
    case Qt::TextAlignmentRole:
      if (view_column == kColumnSize)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
      return QVariant();
    case Qt::ToolTipRole:
      // The whole text of a cell a narrow column cuts: the full path of a
      // name, the whole folder text of a folder.
      if (view_column == kColumnName) return PlainToolTip(ShownPath(UncutPath(*record)));
      if (view_column == kColumnFolder) return PlainToolTip(ShownPath(record->folder));
      return QVariant();
    default:
      return QVariant();
  }
}

}  // namespace quindelo::ui
