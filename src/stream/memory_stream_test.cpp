#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream/byte_stream.h"

namespace {

MemoryStreamPtr Over(std::vector<uint8_t>& block, bool forReading) {
  return MemoryStreamPtr(OpenMemoryStream(block.data(), static_cast<uint32_t>(block.size()), forReading));
}

TEST(MemoryStream, EmptyBlockIsAtEndAndReadsNothing) {
  uint8_t byte = 0;
  MemoryStreamPtr stream(OpenMemoryStream(&byte, 0, true));
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->AtEnd(), 1);
  EXPECT_EQ(stream->ReadU8(), -1);
  uint8_t out[4];
  EXPECT_EQ(stream->Read(out, 4), 0);
}

TEST(MemoryStream, DetachedStreamHasNoEnd) {
  MemoryStream stream;
  EXPECT_EQ(stream.AtEnd(), -1);
}

// Each integer read either takes the whole value or leaves the position.
TEST(MemoryStream, IntegerReadsAreAllOrNothing) {
  struct Case {
    size_t size;
    int width;
    int32_t expected;
    int32_t positionAfter;
  };
  const Case cases[] = {
      {1, 2, -1, 0}, {2, 2, 0x0201, 2}, {3, 4, -1, 0}, {4, 4, 0x04030201, 4}, {0, 1, -1, 0}, {1, 1, 0x01, 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = {1, 2, 3, 4};
    block.resize(c.size);
    MemoryStreamPtr stream = Over(block, true);
    int32_t value = c.width == 1 ? stream->ReadU8() : c.width == 2 ? stream->ReadU16() : stream->ReadU32();
    EXPECT_EQ(value, c.expected) << "size " << c.size << " width " << c.width;
    EXPECT_EQ(stream->Tell(), c.positionAfter);
  }
}

TEST(MemoryStream, ShortU16LeavesTheByteForReadU8) {
  std::vector<uint8_t> block = {0xAB};
  MemoryStreamPtr stream = Over(block, true);
  EXPECT_EQ(stream->ReadU16(), -1);
  EXPECT_EQ(stream->ReadU8(), 0xAB);
}

TEST(MemoryStream, ReadingTheLastFourBytesReachesTheEnd) {
  std::vector<uint8_t> block = {9, 0xFF, 0xFF, 0xFF, 0xFF};
  MemoryStreamPtr stream = Over(block, true);
  EXPECT_EQ(stream->ReadU8(), 9);
  EXPECT_EQ(stream->AtEnd(), 0);
  EXPECT_EQ(static_cast<uint32_t>(stream->ReadU32()), 0xFFFFFFFFu);
  EXPECT_EQ(stream->AtEnd(), 1);
}

TEST(MemoryStream, RunsAreCutAtTheEnd) {
  std::vector<uint8_t> block(8, 0);
  for (uint8_t i = 0; i < 8; ++i) block[i] = i;
  MemoryStreamPtr reader = Over(block, true);
  reader->Seek(5, false);
  uint8_t out[10] = {};
  EXPECT_EQ(reader->Read(out, 10), 3);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[2], 7);
  EXPECT_EQ(reader->Tell(), 8);
  EXPECT_EQ(reader->Read(out, 10), 0);

  MemoryStreamPtr writer = Over(block, false);
  writer->Seek(5, false);
  const uint8_t source[10] = {0xA0, 0xA1, 0xA2, 0xA3};
  EXPECT_EQ(writer->Write(source, 10), 3);
  EXPECT_EQ(block[5], 0xA0);
  EXPECT_EQ(block[7], 0xA2);
  EXPECT_EQ(writer->Write(source, 10), 0);
}

TEST(MemoryStream, SeekClampsAndWraps) {
  std::vector<uint8_t> block(10);
  MemoryStreamPtr stream = Over(block, true);
  const struct {
    int32_t offset;
    bool fromEnd;
    int32_t position;
  } cases[] = {{15, false, 10}, {-4, true, 6}, {-20, true, 10},
               {3, false, 3},   {0, true, 10}, {-1, false, 10}};
  for (const auto& c : cases) {
    EXPECT_EQ(stream->Seek(c.offset, c.fromEnd), 0);
    EXPECT_EQ(stream->Tell(), c.position) << c.offset << (c.fromEnd ? " from end" : " from start");
  }
}

TEST(MemoryStream, IntegerWritesAreLittleEndianAndAllOrNothing) {
  std::vector<uint8_t> block(8, 0xEE);
  MemoryStreamPtr stream = Over(block, false);
  EXPECT_EQ(stream->WriteU32(258), 0);
  EXPECT_EQ(stream->Tell(), 4);
  EXPECT_EQ(stream->WriteU16(0x12345), 0);  // only the low 16 bits
  EXPECT_EQ(stream->WriteU8(0x1FF), 0);     // only the low 8 bits
  EXPECT_EQ((std::vector<uint8_t>{2, 1, 0, 0, 0x45, 0x23, 0xFF, 0xEE}), block);

  stream->Seek(-3, true);
  EXPECT_EQ(stream->WriteU32(0), -1);
  EXPECT_EQ(stream->Tell(), 5);
  EXPECT_EQ(block[5], 0x23);
  stream->Seek(-1, true);
  EXPECT_EQ(stream->WriteU16(0), -1);
  EXPECT_EQ(stream->WriteU8(0x77), 0);
  EXPECT_EQ(stream->WriteU8(0x77), -1);
  EXPECT_EQ(block[7], 0x77);
}

TEST(MemoryStream, WrongModeChangesNothing) {
  std::vector<uint8_t> block = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<uint8_t> before = block;
  uint8_t scratch[8] = {};
  MemoryStreamPtr reader = Over(block, true);
  EXPECT_EQ(reader->WriteU8(0), -1);
  EXPECT_EQ(reader->WriteU16(0), -1);
  EXPECT_EQ(reader->WriteU32(0), -1);
  EXPECT_EQ(reader->Write(scratch, 8), -1);
  EXPECT_EQ(reader->Tell(), 0);
  MemoryStreamPtr writer = Over(block, false);
  EXPECT_EQ(writer->ReadU8(), -1);
  EXPECT_EQ(writer->ReadU16(), -1);
  EXPECT_EQ(writer->ReadU32(), -1);
  EXPECT_EQ(writer->Read(scratch, 8), -1);
  EXPECT_EQ(writer->Tell(), 0);
  EXPECT_EQ(block, before);
}

TEST(MemoryStream, AttachRetargetsAndReleaseLeavesTheBlock) {
  std::vector<uint8_t> first = {1, 2}, second = {7, 8, 9};
  MemoryStreamPtr stream = Over(first, true);
  stream->ReadU8();
  stream->Attach(second.data(), 3, true);
  EXPECT_EQ(stream->Tell(), 0);
  EXPECT_EQ(stream->ReadU8(), 7);
  stream.reset();
  EXPECT_EQ(second[0], 7);
}

}  // namespace
