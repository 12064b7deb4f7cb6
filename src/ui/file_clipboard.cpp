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

}  // namespace

std::vector<std::string> SelectedNativePaths(const ResultsView& view) {
  return commands::NativePaths(view.SelectedFiles());
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
