#include <gtest/gtest.h>

#include "stream/cp932_path.h"

namespace {

// The names are written as bytes: ソ is 83 5C and 表 is 95 5C in code page 932.
TEST(Cp932Path, FindsTheLastRealBackslash) {
  const struct {
    const char* path;
    long lastAt;  // -1: none
    bool endsInBackslash;
  } cases[] = {
      {"", -1, false},
      {"abc", -1, false},
      {"C:\\Prog", 2, false},
      {"C:\\Prog\\", 7, true},
      {"C:\\\x83\x5C", 2, false},         // folder ending in ソ
      {"C:\\\x83\x5C\\", 5, true},        // ソ then a real separator
      {"C:\\\x95\x5C\\a.exe", 5, false},  // 表 inside the path
      {"\x83\x5C\x95\x5C", -1, false},    // only trail bytes look like 5C
      {"a\\\x83", 1, false},              // a lone lead byte at the end
      {"\xA6\\", 1, true},                // half-width kana is one byte
  };
  for (const auto& c : cases) {
    const char* last = FindLastBackslash(c.path);
    EXPECT_EQ(last == nullptr ? -1 : last - c.path, c.lastAt) << c.path;
    EXPECT_EQ(EndsInBackslash(c.path), c.endsInBackslash) << c.path;
  }
}

TEST(Cp932Path, LeadBytes) {
  EXPECT_FALSE(IsCp932LeadByte(0x80));
  EXPECT_TRUE(IsCp932LeadByte(0x81));
  EXPECT_TRUE(IsCp932LeadByte(0x9F));
  EXPECT_FALSE(IsCp932LeadByte(0xA0));
  EXPECT_FALSE(IsCp932LeadByte(0xDF));
  EXPECT_TRUE(IsCp932LeadByte(0xE0));
  EXPECT_TRUE(IsCp932LeadByte(0xFC));
  EXPECT_FALSE(IsCp932LeadByte(0xFD));
}

}  // namespace
