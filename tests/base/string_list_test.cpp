// Promises of StringList: the block layout other code relies on, empty items
// stored as a space and read back empty, item access, and copying.
#include "base/string_list.h"

#include <gtest/gtest.h>

#include <string>

namespace quindelo {
namespace {

std::string Block(const StringList& list) { return std::string(list.data(), list.byte_length()); }

TEST(StringList, EmptyListIsASingleNul) {
  StringList list;
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(Block(list), std::string(1, '\0'));
  EXPECT_EQ(list.Item(0), "");
}

TEST(StringList, AppendLaysOutNulTerminatedTextsEndedByAnExtraNul) {
  StringList list;
  list.Append("\\Windows");
  list.Append("\\home\\ann");
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(Block(list), std::string("\\Windows\0\\home\\ann\0\0", 20));
  EXPECT_EQ(list.Item(0), "\\Windows");
  EXPECT_EQ(list.Item(1), "\\home\\ann");
  EXPECT_EQ(list.Item(2), "");
  EXPECT_EQ(list.Item(static_cast<std::size_t>(-1)), "");
}

TEST(StringList, EmptyItemsAreStoredAsASpaceAndReadBackEmpty) {
  StringList list;
  list.Append("a");
  list.Append("");
  list.Append("b");
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(Block(list), std::string("a\0 \0b\0\0", 7));
  EXPECT_EQ(list.Item(1), "");
  EXPECT_EQ(list.Item(2), "b");
  // A NUL inside an item ends it, so the block stays well formed.
  list.Append(std::string_view("cd\0ef", 5));
  EXPECT_EQ(list.Item(3), "cd");
  EXPECT_EQ(list.byte_length(), 10u);
}

TEST(StringList, CopiesAreIndependent) {
  StringList list;
  list.Append("one");
  list.Append("");
  StringList copy;
  copy.Append("old");
  copy.CopyFrom(list);
  list.Append("three");
  EXPECT_EQ(copy.Count(), 2u);
  EXPECT_EQ(Block(copy), std::string("one\0 \0\0", 7));
  StringList assigned = list;  // the value type copies too
  list.Clear();
  EXPECT_EQ(assigned.Count(), 3u);
  EXPECT_EQ(assigned.Item(2), "three");
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(Block(list), std::string(1, '\0'));
  copy.CopyFrom(copy);
  EXPECT_EQ(copy.Count(), 2u);
}

TEST(StringList, CopyFromABlockStopsAtTheExtraNulOrItsSize) {
  StringList list;
  const char block[] = "\\a\0 \0\\b\0\0\\ignored\0";
  EXPECT_TRUE(list.CopyFrom(block, sizeof block));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Item(1), "");
  EXPECT_EQ(list.Item(2), "\\b");
  EXPECT_EQ(list.byte_length(), 9u);

  // No extra NUL within the size: the complete texts are kept, the cut one
  // is not, and reading never goes past size.
  const char unterminated[] = {'x', '\0', 'y', 'z'};
  EXPECT_FALSE(list.CopyFrom(unterminated, sizeof unterminated));
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(Block(list), std::string("x\0\0", 3));
  EXPECT_FALSE(list.CopyFrom(nullptr, 0));
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_TRUE(list.CopyFrom("\0", 1));
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace quindelo
