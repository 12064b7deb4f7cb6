#include "search/headless_find_window.h"

namespace quindelo {

void HeadlessFindWindow::SetNamedText(const std::string& text) {
  platform::MutexLock lock(&mutex_);
  named_ = text;
}

void HeadlessFindWindow::SetContainingText(const std::string& text) {
  platform::MutexLock lock(&mutex_);
  containing_ = text;
}

std::vector<FoundFile*> HeadlessFindWindow::Rows() const {
  platform::MutexLock lock(&mutex_);
  return rows_;
}

std::string HeadlessFindWindow::status() const {
  platform::MutexLock lock(&mutex_);
  return status_;
}

std::string HeadlessFindWindow::indicator() const {
  platform::MutexLock lock(&mutex_);
  return indicator_;
}

bool HeadlessFindWindow::named_enabled() const {
  platform::MutexLock lock(&mutex_);
  return named_enabled_;
}

bool HeadlessFindWindow::containing_enabled() const {
  platform::MutexLock lock(&mutex_);
  return containing_enabled_;
}

int HeadlessFindWindow::selected_row() const {
  platform::MutexLock lock(&mutex_);
  return selected_row_;
}

void HeadlessFindWindow::SetFocusedRow(int row) {
  platform::MutexLock lock(&mutex_);
  focused_row_ = row;
}

std::vector<int> HeadlessFindWindow::TakePostedCommands() {
  platform::MutexLock lock(&mutex_);
  std::vector<int> taken;
  taken.swap(posted_commands_);
  return taken;
}

int HeadlessFindWindow::close_requests() const {
  platform::MutexLock lock(&mutex_);
  return close_requests_;
}

void HeadlessFindWindow::RunOnWindowThread(const std::function<void()>& work) {
  std::lock_guard<std::recursive_mutex> lock(window_thread_);
  work();
}

void HeadlessFindWindow::SetStatusText(const char* text) {
  platform::MutexLock lock(&mutex_);
  status_ = text ? text : " ";
}

void HeadlessFindWindow::SetIndicatorText(const char* text) {
  platform::MutexLock lock(&mutex_);
  indicator_ = text ? text : " ";
}

void HeadlessFindWindow::PostCloseRequest() {
  platform::MutexLock lock(&mutex_);
  ++close_requests_;
}

void HeadlessFindWindow::PostCommand(int command) {
  platform::MutexLock lock(&mutex_);
  posted_commands_.push_back(command);
}

int HeadlessFindWindow::RowCount() {
  platform::MutexLock lock(&mutex_);
  return static_cast<int>(rows_.size());
}

FoundFile* HeadlessFindWindow::RowRecord(int row) {
  platform::MutexLock lock(&mutex_);
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return rows_[static_cast<std::size_t>(row)];
}

void HeadlessFindWindow::InsertRows(const std::vector<RowInsert>& rows) {
  platform::MutexLock lock(&mutex_);
  // One merge of the old rows with the batch, instead of a vector insert per
  // row. A position out of order or out of range goes as far as it can.
  std::vector<FoundFile*> merged;
  merged.reserve(rows_.size() + rows.size());
  std::size_t old = 0;
  for (const RowInsert& row : rows) {
    const std::size_t position = row.position < 0 ? 0 : static_cast<std::size_t>(row.position);
    while (merged.size() < position && old < rows_.size()) merged.push_back(rows_[old++]);
    merged.push_back(row.record);
  }
  merged.insert(merged.end(), rows_.begin() + static_cast<std::ptrdiff_t>(old), rows_.end());
  rows_.swap(merged);
}

void HeadlessFindWindow::DeleteAllRows() {
  platform::MutexLock lock(&mutex_);
  rows_.clear();
  focused_row_ = -1;
  selected_row_ = -1;
}

int HeadlessFindWindow::FocusedRow() {
  platform::MutexLock lock(&mutex_);
  return focused_row_;
}

bool HeadlessFindWindow::SelectRow(int row) {
  platform::MutexLock lock(&mutex_);
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return false;
  selected_row_ = row;
  focused_row_ = row;
  return true;
}

void HeadlessFindWindow::ScrollRowIntoView(int) {}

std::string HeadlessFindWindow::NamedText() {
  platform::MutexLock lock(&mutex_);
  return named_;
}

std::string HeadlessFindWindow::ContainingText() {
  platform::MutexLock lock(&mutex_);
  return containing_;
}

void HeadlessFindWindow::EnableNamed(bool enable) {
  platform::MutexLock lock(&mutex_);
  named_enabled_ = enable;
}

void HeadlessFindWindow::EnableContaining(bool enable) {
  platform::MutexLock lock(&mutex_);
  containing_enabled_ = enable;
}

}  // namespace quindelo
