#include "base/item_queue.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace quindelo {

ItemQueue::~ItemQueue() { FreeChain(head_); }

ItemQueue::Node* ItemQueue::NewNode(std::size_t size) {
  if (size > std::numeric_limits<std::size_t>::max() - sizeof(Node)) return nullptr;
  // malloc rather than new: a failure here drops the item instead of
  // running the process's out-of-memory handler.
  void* memory = std::malloc(sizeof(Node) + size);
  if (!memory) return nullptr;
  Node* node = static_cast<Node*>(memory);
  node->next = nullptr;
  node->size = size;
  return node;
}

void ItemQueue::FreeChain(Node* node) {
  while (node) {
    Node* next = node->next;
    std::free(node);
    node = next;
  }
}

void ItemQueue::Link(Node* node) {
  platform::MutexLock lock(&mutex_);
  if (tail_) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
}

bool ItemQueue::Append(const void* data, std::size_t size) {
  Node* node = NewNode(size);
  if (!node) return false;
  if (size) std::memcpy(node->bytes(), data, size);
  Link(node);
  return true;
}

bool ItemQueue::AppendPieces(std::initializer_list<Piece> pieces) {
  return AppendPieces(pieces.begin(), pieces.size());
}

bool ItemQueue::AppendPieces(const Piece* pieces, std::size_t count) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (pieces[i].size > std::numeric_limits<std::size_t>::max() - total) return false;
    total += pieces[i].size;
  }
  Node* node = NewNode(total);
  if (!node) return false;
  unsigned char* out = node->bytes();
  for (std::size_t i = 0; i < count; ++i) {
    if (pieces[i].size) std::memcpy(out, pieces[i].data, pieces[i].size);
    out += pieces[i].size;
  }
  Link(node);
  return true;
}

bool ItemQueue::Pop(void* buffer, std::size_t capacity, std::size_t* copied, bool* truncated) {
  Node* node;
  {
    platform::MutexLock lock(&mutex_);
    node = head_;
    if (node) {
      head_ = node->next;
      if (!head_) tail_ = nullptr;
    }
  }
  if (!node) {
    *copied = 0;
    if (truncated) *truncated = false;
    return false;
  }
  const std::size_t count = node->size < capacity ? node->size : capacity;
  if (count) std::memcpy(buffer, node->bytes(), count);
  *copied = count;
  if (truncated) *truncated = count < node->size;
  std::free(node);
  return true;
}

void ItemQueue::Clear() {
  Node* chain;
  {
    platform::MutexLock lock(&mutex_);
    chain = head_;
    head_ = tail_ = nullptr;
  }
  FreeChain(chain);
}

bool ItemQueue::IsEmpty() const {
  platform::MutexLock lock(&mutex_);
  return head_ == nullptr;
}

}  // namespace quindelo
