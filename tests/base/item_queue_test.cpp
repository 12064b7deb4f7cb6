// Promises of ItemQueue: first in, first out; bytes copied in and out whole
// or cut at the caller's capacity; pieces joined into one item; emptying;
// safe use from several threads at once.
#include "base/item_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace quindelo {
namespace {

std::string PopString(ItemQueue& queue, std::size_t capacity = 512) {
  std::vector<char> buffer(capacity);
  std::size_t copied = 99;
  EXPECT_TRUE(queue.Pop(buffer.data(), capacity, &copied));
  return std::string(buffer.data(), copied);
}

TEST(ItemQueue, ItemsComeOutInOrderWithTheirExactBytes) {
  ItemQueue queue;
  EXPECT_TRUE(queue.IsEmpty());
  ASSERT_TRUE(queue.Append("first", 5));
  ASSERT_TRUE(queue.Append("", 0));
  const char binary[] = {'a', '\0', 'b', '\0'};
  ASSERT_TRUE(queue.Append(binary, sizeof binary));
  EXPECT_FALSE(queue.IsEmpty());
  EXPECT_EQ(PopString(queue), "first");
  EXPECT_EQ(PopString(queue), "");  // an empty item still counts as one
  EXPECT_EQ(PopString(queue), std::string(binary, sizeof binary));
  EXPECT_TRUE(queue.IsEmpty());

  char buffer[8];
  std::size_t copied = 99;
  bool truncated = true;
  EXPECT_FALSE(queue.Pop(buffer, sizeof buffer, &copied, &truncated));
  EXPECT_EQ(copied, 0u);
  EXPECT_FALSE(truncated);

  // The queue works again after running empty (the tail was reset).
  ASSERT_TRUE(queue.Append("again", 5));
  ASSERT_TRUE(queue.Append("more", 4));
  EXPECT_EQ(PopString(queue), "again");
  EXPECT_EQ(PopString(queue), "more");
}

TEST(ItemQueue, PopCopiesAtMostTheCapacityAndSaysSo) {
  ItemQueue queue;
  ASSERT_TRUE(queue.Append("0123456789", 10));
  ASSERT_TRUE(queue.Append("abc", 3));
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  std::size_t copied = 0;
  bool truncated = false;
  ASSERT_TRUE(queue.Pop(buffer, 4, &copied, &truncated));
  EXPECT_EQ(copied, 4u);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(std::string(buffer, 5), "0123#");  // nothing written past the capacity
  // The cut item is gone; the next one is whole.
  ASSERT_TRUE(queue.Pop(buffer, sizeof buffer, &copied, &truncated));
  EXPECT_EQ(std::string(buffer, copied), "abc");
  EXPECT_FALSE(truncated);
}

TEST(ItemQueue, PiecesAreJoinedIntoOneItem) {
  ItemQueue queue;
  const std::uint16_t code = 3;
  const char path[] = "C:\\home\\ann";
  ASSERT_TRUE(queue.AppendPieces({{&code, sizeof code}, {path, 7}, {nullptr, 0}, {path + 7, 5}}));
  ASSERT_TRUE(queue.Append("next", 4));
  unsigned char buffer[64];
  std::size_t copied = 0;
  ASSERT_TRUE(queue.Pop(buffer, sizeof buffer, &copied));
  ASSERT_EQ(copied, 2u + sizeof path);
  std::uint16_t got_code;
  std::memcpy(&got_code, buffer, 2);
  EXPECT_EQ(got_code, 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer + 2), path);
  EXPECT_EQ(PopString(queue), "next");
}

TEST(ItemQueue, ImpossibleSizesAreDroppedNotWrapped) {
  ItemQueue queue;
  const char byte = 'x';
  const std::size_t huge = std::numeric_limits<std::size_t>::max() - 4;
  // These sizes overflow the node's size computation; the queue must refuse
  // them before reading a single byte.
  EXPECT_FALSE(queue.Append(&byte, huge));
  EXPECT_FALSE(queue.AppendPieces({{&byte, huge}, {&byte, 16}}));
  EXPECT_TRUE(queue.IsEmpty());
}

TEST(ItemQueue, ClearFreesEverythingAndTheQueueStaysUsable) {
  ItemQueue queue;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(queue.Append("item", 4));
  queue.Clear();
  EXPECT_TRUE(queue.IsEmpty());
  char buffer[8];
  std::size_t copied;
  EXPECT_FALSE(queue.Pop(buffer, sizeof buffer, &copied));
  ASSERT_TRUE(queue.Append("after", 5));
  EXPECT_EQ(PopString(queue), "after");
  // Items left at destruction are freed (checked by the leak sanitizer).
  ASSERT_TRUE(queue.Append("left", 4));
}

TEST(ItemQueue, TwoProducersAndOneConsumerLoseNothingAndKeepEachProducersOrder) {
  ItemQueue queue;
  constexpr int kPerProducer = 20000;
  std::atomic<int> producers_done{0};
  auto produce = [&queue, &producers_done](std::uint32_t producer) {
    for (std::uint32_t i = 0; i < kPerProducer; ++i) {
      const std::uint32_t header[2] = {producer, i};
      const std::string tail(i % 37, static_cast<char>('a' + producer));
      EXPECT_TRUE(queue.AppendPieces({{header, sizeof header}, {tail.data(), tail.size()}}));
    }
    ++producers_done;
  };
  std::vector<std::uint32_t> next(2, 0);
  int received = 0;
  bool corrupt = false;
  std::thread consumer([&] {
    unsigned char buffer[64];
    while (received < 2 * kPerProducer) {
      std::size_t copied = 0;
      if (!queue.Pop(buffer, sizeof buffer, &copied)) {
        if (producers_done == 2 && queue.IsEmpty()) return;  // something was lost
        std::this_thread::yield();
        continue;
      }
      std::uint32_t header[2];
      std::memcpy(header, buffer, sizeof header);
      const std::uint32_t producer = header[0], index = header[1];
      if (producer > 1 || index != next[producer] || copied != sizeof header + index % 37) {
        corrupt = true;
        return;
      }
      for (std::size_t k = sizeof header; k < copied; ++k) {
        if (buffer[k] != 'a' + producer) corrupt = true;
      }
      ++next[producer];
      ++received;
    }
  });
  std::thread first(produce, 0);
  std::thread second(produce, 1);
  first.join();
  second.join();
  consumer.join();
  EXPECT_FALSE(corrupt);
  EXPECT_EQ(received, 2 * kPerProducer);
  EXPECT_EQ(next[0], static_cast<std::uint32_t>(kPerProducer));
  EXPECT_EQ(next[1], static_cast<std::uint32_t>(kPerProducer));
  EXPECT_TRUE(queue.IsEmpty());
}

}  // namespace
}  // namespace quindelo
