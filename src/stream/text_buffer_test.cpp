#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "stream/text_buffer.h"

namespace {

// A NUL-terminated run of `length` 'a' characters that costs one chunk of
// memory whatever its length: the same chunk is mapped over and over, and
// only the chunk holding the NUL is a copy of its own.
class RepeatedText {
 public:
  explicit RepeatedText(size_t length) {
    constexpr size_t Chunk = 1 << 20;
    size_ = (length / Chunk + 1) * Chunk;
    fd_ = memfd_create("repeated-text", 0);
    if (fd_ < 0 || ftruncate(fd_, Chunk) != 0) return;
    void* whole = mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (whole == MAP_FAILED) return;
    base_ = static_cast<char*>(whole);
    for (size_t at = 0; at < size_; at += Chunk) {
      const int sharing = at / Chunk == length / Chunk ? MAP_PRIVATE : MAP_SHARED;
      if (mmap(base_ + at, Chunk, PROT_READ | PROT_WRITE, MAP_FIXED | sharing, fd_, 0) == MAP_FAILED) return;
      if (at == 0) memset(base_, 'a', Chunk);
    }
    base_[length] = '\0';
    ready_ = true;
  }
  ~RepeatedText() {
    if (base_ != nullptr) munmap(base_, size_);
    if (fd_ >= 0) close(fd_);
  }
  RepeatedText(const RepeatedText&) = delete;
  RepeatedText& operator=(const RepeatedText&) = delete;

  const char* text() const { return ready_ ? base_ : nullptr; }

 private:
  int fd_ = -1;
  char* base_ = nullptr;
  size_t size_ = 0;
  bool ready_ = false;
};

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

// The capacity counts in 32 signed bits: a text that would make the block
// 2 GiB or more is refused, and the buffer stays as it was.
TEST(TextBuffer, AppendRefusesATextItsCapacityCannotCount) {
  struct Case {
    const char* present;
    size_t added;
  } cases[] = {{"", INT32_MAX}, {"abc", INT32_MAX - 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.present);
    TextBuffer buffer;
    if (*c.present != '\0') {
      ASSERT_EQ(buffer.Append(c.present), 0);
    }
    const int32_t capacity = buffer.capacity;
    const RepeatedText added(c.added);
    ASSERT_NE(added.text(), nullptr);
    EXPECT_EQ(buffer.Append(added.text()), -1);
    EXPECT_EQ(buffer.capacity, capacity);
    if (capacity > 0) {
      EXPECT_STREQ(buffer.text, c.present);
    }
  }
}

}  // namespace
