// FolderPaths: see folder_paths.h.
#include "index/folder_paths.h"

#include <cstring>
#include <new>

namespace quindelo {

FolderPaths::FolderPaths(IndexStore* store) : store_(store) {
  slot_count_ = store->table_length();
  slots_.reset(static_cast<Slot*>(std::calloc(slot_count_ == 0 ? 1 : slot_count_, sizeof(Slot))));
  if (!slots_) throw std::bad_alloc();
}

// The name is kept as the text up to its first NUL, if it holds one (a
// damaged record): an empty one marks the root.
void FolderPaths::Keep(Slot* slot, const FolderRecordView& folder) {
  slot->parent = folder.parent_id();
  slot->name = pool_.Add(folder.name());
  slot->length = static_cast<std::uint8_t>(std::strlen(slot->name));
}

void FolderPaths::Note(const FolderRecordView& folder) {
  ++noted_;
  if (!keep_all_ || folder.id() >= slot_count_) return;
  Slot& slot = slots_[folder.id()];
  if (slot.name) return;
  Keep(&slot, folder);
}

bool FolderPaths::Build(index_format::RecordId id, std::string* path) {
  chain_.clear();
  std::size_t steps = 0;
  FolderRecordView view;
  while (id != 0) {
    if (++steps > slot_count_ || id >= slot_count_) {
      // A chain longer than the table loops; an id beyond the table names
      // no record. Either is damage.
      store_->MarkDamaged();
      return false;
    }
    Slot& slot = slots_[id];
    if (!slot.name) {
      if (!ReadFolderRecord(*store_, id, &buffer_, &view)) return false;
      Keep(&slot, view);
      if (++reads_ > kLazyReads + noted_ / 16) keep_all_ = true;
    }
    if (slot.length == 0) break;  // the root folder
    chain_.push_back(&slot);
    id = slot.parent;
  }
  path->assign(1, '\\');
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    path->append((*it)->name, (*it)->length);
    path->push_back('\\');
  }
  return true;
}

}  // namespace quindelo
