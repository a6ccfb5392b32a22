#include <gtest/gtest.h>

#include "stream/text_buffer.h"

namespace {

TEST(TextBuffer, AppendGrowsToExactlyTheLengthNeeded) {
  TextBuffer buffer;
  EXPECT_EQ(buffer.Append("abc"), 0);
  EXPECT_EQ(buffer.capacity, 4);
  EXPECT_STREQ(buffer.text, "abc");
  EXPECT_EQ(buffer.Append("de"), 0);
  EXPECT_EQ(buffer.capacity, 6);
  EXPECT_STREQ(buffer.text, "abcde");
  EXPECT_EQ(buffer.Append(""), 0);
  EXPECT_EQ(buffer.capacity, 6);
}

TEST(TextBuffer, AppendingNothingToANewBufferMakesAnEmptyText) {
  TextBuffer buffer;
  EXPECT_EQ(buffer.Append(""), 0);
  EXPECT_EQ(buffer.capacity, 1);
  EXPECT_STREQ(buffer.text, "");
}

TEST(TextBuffer, ReserveKeepsABlockLargeEnoughAndEmptiesIt) {
  TextBuffer buffer;
  buffer.Append("abcde");
  char* block = buffer.text;
  EXPECT_EQ(buffer.Reserve(3), 0);
  EXPECT_EQ(buffer.text, block);
  EXPECT_EQ(buffer.capacity, 6);
  EXPECT_STREQ(buffer.text, "");
  EXPECT_EQ(buffer.Reserve(10), 0);
  EXPECT_EQ(buffer.capacity, 10);
  EXPECT_STREQ(buffer.text, "");
}

TEST(TextBuffer, GrowKeepsTheText) {
  TextBuffer buffer;
  buffer.Reserve(6);
  buffer.Append("abc");
  char* block = buffer.text;
  EXPECT_EQ(buffer.Grow(4), 0);
  EXPECT_EQ(buffer.text, block);
  EXPECT_EQ(buffer.capacity, 6);
  EXPECT_EQ(buffer.Grow(10), 0);
  EXPECT_EQ(buffer.capacity, 10);
  EXPECT_STREQ(buffer.text, "abc");

  TextBuffer fresh;
  EXPECT_EQ(fresh.Grow(5), 0);
  EXPECT_EQ(fresh.capacity, 5);
  EXPECT_STREQ(fresh.text, "");
}

TEST(TextBuffer, FreeStartsAgainFromNothing) {
  TextBuffer buffer;
  buffer.Append("abcdef");
  buffer.Free();
  EXPECT_EQ(buffer.capacity, 0);
  EXPECT_EQ(buffer.text, nullptr);
  buffer.Append("xy");
  EXPECT_EQ(buffer.capacity, 3);
  EXPECT_STREQ(buffer.text, "xy");
}

}  // namespace
