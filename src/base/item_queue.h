// ItemQueue: a first-in first-out queue of variable-length byte messages,
// used by a drive index for the messages bound for its callback and for the
// paths waiting for a content search.
//
// Each item is one heap node holding a link, a byte count and a copy of the
// bytes. The queue's lock is held only to link or unlink a node: copying the
// bytes in happens before the lock is taken, copying them out after it is
// released.
//
// Thread-safety: every method may be called from any number of threads at
// once. Items come out in the order in which their appends took the lock.
//
// Failure behaviour: when a node cannot be allocated the item is dropped
// (the append returns false); nothing is raised.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "base/mutex.h"

namespace quindelo {

class ItemQueue {
 public:
  // One piece of a message built from several parts.
  struct Piece {
    const void* data;
    std::size_t size;
  };

  ItemQueue() = default;
  ~ItemQueue();  // frees every item still queued
  ItemQueue(const ItemQueue&) = delete;
  ItemQueue& operator=(const ItemQueue&) = delete;

  // Copies size bytes from data into a new item at the tail. Returns false
  // when the item was dropped because no memory could be had for it.
  // REQUIRES: data points to size readable bytes (data may be null when
  // size is 0).
  bool Append(const void* data, std::size_t size);

  // Copies the pieces one after the other into a single new item at the
  // tail, as Append does with their concatenation.
  bool AppendPieces(std::initializer_list<Piece> pieces);
  bool AppendPieces(const Piece* pieces, std::size_t count);

  // Takes the item at the head. Returns false when the queue is empty.
  // Otherwise copies min(item size, capacity) bytes into buffer, stores that
  // count in *copied, and frees the item; *truncated (when given) tells
  // whether bytes beyond capacity were dropped. No terminator is added:
  // a caller reading text must leave room for one and write it.
  // REQUIRES: buffer holds capacity writable bytes; copied is not null.
  bool Pop(void* buffer, std::size_t capacity, std::size_t* copied,
           bool* truncated = nullptr);

  // Frees every queued item.
  void Clear();

  // True when no item is queued (a snapshot: another thread may append or
  // pop at once).
  bool IsEmpty() const;

 private:
  struct Node {
    Node* next;
    std::size_t size;
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(this + 1); }
  };

  // Links a filled node at the tail.
  void Link(Node* node);
  // Allocates a node for size bytes; nullptr on failure or overflow.
  static Node* NewNode(std::size_t size);
  static void FreeChain(Node* node);

  mutable platform::Mutex mutex_;
  Node* head_ GUARDED_BY(mutex_) = nullptr;
  Node* tail_ GUARDED_BY(mutex_) = nullptr;
};

}  // namespace quindelo
