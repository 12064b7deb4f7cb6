#include "ui/native_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quindelo::ui {
namespace {

// Names the file system may hand over, including bytes that are not UTF-8,
// come back from Qt as the same bytes.
TEST(NativeTextTest, NamesRoundTripThroughQt) {
  const std::string names[] = {
      "plain.txt", "Grüße.txt", "名前.doc", "new\nline", "bad\xff\xfe" "bytes", "\xc0\xaf" "overlong", "\xed\xa0\x80" "surrogate", "cut\xe2\x82", "semi;colon $x \"q\"",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ToNative(FromNative(name)), name);
  }
  EXPECT_EQ(FromNative("Grüße.txt"), QString::fromUtf8("Grüße.txt"));
  EXPECT_EQ(ToUtf8(FromUtf8("Größe: 1 KB")), "Größe: 1 KB");
}

}  // namespace
}  // namespace quindelo::ui
