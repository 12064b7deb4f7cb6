#include "ui/file_clipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMimeData>
#include <algorithm>

#include "commands/selection.h"
#include "ui/results_view.h"

namespace quindelo::ui {
namespace {

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The view's selected rows, sorted, for the commands' selection walk.
class ViewSelection : public commands::RowSelection {
 public:
  explicit ViewSelection(const ResultsView& view) : view_(view) {
    if (const QItemSelectionModel* model = view.selectionModel()) {
      for (const QItemSelectionRange& range : model->selection())
        for (int row = range.top(); range.isValid() && row <= range.bottom(); ++row)
          rows_.push_back(row);
    }
    std::sort(rows_.begin(), rows_.end());
    rows_.erase(std::unique(rows_.begin(), rows_.end()), rows_.end());
  }
  int NextSelectedRow(int after) const override {
    const auto next = std::upper_bound(rows_.begin(), rows_.end(), after);
    return next == rows_.end() ? -1 : *next;
  }
  const FoundFile* RowRecord(int row) const override { return view_.results()->RowRecord(row); }

 private:
  const ResultsView& view_;
  std::vector<int> rows_;
};

}  // namespace

std::vector<std::string> SelectedNativePaths(const ResultsView& view) {
  std::vector<std::string> paths;
  for (commands::SelectedFile& file : commands::CollectSelectedFiles(ViewSelection(view)))
    if (!file.native_path.empty()) paths.push_back(std::move(file.native_path));
  return paths;
}

QMimeData* MakeClipboardMimeData(const std::vector<std::string>& native_paths,
                                 commands::ClipboardAction action) {
  const commands::ClipboardData data = commands::BuildClipboardData(native_paths, action);
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(commands::kMimeTextPlain), Bytes(data.text));
  mime->setData(QString::fromLatin1(commands::kMimeUriList), Bytes(data.uri_list));
  mime->setData(QString::fromLatin1(commands::kMimeGnomeCopiedFiles), Bytes(data.gnome_copied));
  if (!data.kde_cut.empty())
    mime->setData(QString::fromLatin1(commands::kMimeKdeCutSelection), Bytes(data.kde_cut));
  return mime;
}

QMimeData* MakeDragMimeData(const std::vector<std::string>& native_paths) {
  const commands::ClipboardData data =
      commands::BuildClipboardData(native_paths, commands::ClipboardAction::kCopy);
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(commands::kMimeUriList), Bytes(data.uri_list));
  mime->setData(QString::fromLatin1(commands::kMimeTextPlain), Bytes(data.text));
  return mime;
}

bool PutSelectionOnClipboard(const ResultsView& view, commands::ClipboardAction action) {
  const std::vector<std::string> paths = SelectedNativePaths(view);
  if (paths.empty()) return false;
  QGuiApplication::clipboard()->setMimeData(MakeClipboardMimeData(paths, action));
  return true;
}

}  // namespace quindelo::ui
