#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stream/byte_stream.h"

namespace {

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "file_stream_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Put(const std::vector<uint8_t>& bytes) {
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  std::vector<uint8_t> Get() {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  std::string path_;
};

TEST_F(FileStreamTest, MissingFileDoesNotOpenForReading) {
  EXPECT_EQ(OpenFileStream(path_.c_str(), true), nullptr);
}

TEST_F(FileStreamTest, OpeningForWritingCreatesOrCutsTheFile) {
  ASSERT_TRUE(FileStreamPtr(OpenFileStream(path_.c_str(), false)));
  EXPECT_TRUE(Get().empty());
  Put({1, 2, 3});
  ASSERT_TRUE(FileStreamPtr(OpenFileStream(path_.c_str(), false)));
  EXPECT_TRUE(Get().empty());
}

TEST_F(FileStreamTest, WritesAreLittleEndianByteByByte) {
  {
    FileStreamPtr stream(OpenFileStream(path_.c_str(), false));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->WriteU32(258), 0);
    EXPECT_EQ(stream->WriteU16(0x1234), 0);
    EXPECT_EQ(stream->WriteU8(0x1AB), 0);
    const uint8_t run[] = {9, 8};
    EXPECT_EQ(stream->Write(run, 2), 2);
    EXPECT_EQ(stream->ReadU8(), -1);
    EXPECT_EQ(stream->Commit(), 0);
  }
  EXPECT_EQ(Get(), (std::vector<uint8_t>{2, 1, 0, 0, 0x34, 0x12, 0xAB, 9, 8}));
}

// Bytes missing at the end read as 0xFF, and the end-of-file indicator is set
// only by a read that finds nothing, as stdio keeps it.
TEST_F(FileStreamTest, EndOfFileFollowsStdio) {
  Put({0x11, 0x22, 0x33});
  FileStreamPtr stream(OpenFileStream(path_.c_str(), true));
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->ReadU16(), 0x2211);
  EXPECT_EQ(stream->ReadU8(), 0x33);
  EXPECT_EQ(stream->AtEnd(), 0);
  EXPECT_EQ(stream->ReadU8(), -1);
  EXPECT_NE(stream->AtEnd(), 0);
  EXPECT_EQ(stream->Seek(1, false), 0);
  EXPECT_EQ(stream->AtEnd(), 0);
  EXPECT_EQ(static_cast<uint32_t>(stream->ReadU32()), 0xFFFF3322u);
  EXPECT_EQ(static_cast<uint32_t>(stream->ReadU32()), 0xFFFFFFFFu);
  EXPECT_EQ(stream->ReadU16(), 0xFFFF);
  EXPECT_EQ(stream->Seek(-2, true), 0);
  EXPECT_EQ(stream->Tell(), 1);
  uint8_t out[8] = {};
  EXPECT_EQ(stream->Read(out, 8), 2);
  EXPECT_EQ(out[0], 0x22);
  EXPECT_EQ(stream->WriteU8(0), -1);
  EXPECT_EQ(stream->Write(out, 1), -1);
}

TEST_F(FileStreamTest, OpenClosesTheFileItHeld) {
  Put({5});
  FileStream stream;
  ASSERT_EQ(stream.Open(path_.c_str(), true), 0);
  ASSERT_EQ(stream.Open(path_.c_str(), false), 0);  // cuts the same file
  stream.WriteU8(6);
  EXPECT_EQ(stream.Close(), 0);
  EXPECT_EQ(Get(), std::vector<uint8_t>{6});
}

TEST_F(FileStreamTest, AFileStreamWithoutAFile) {
  FileStream stream;
  EXPECT_EQ(stream.Open((path_ + "/no/such/folder").c_str(), false), -1);
  EXPECT_EQ(stream.AtEnd(), -1);
  EXPECT_EQ(stream.Seek(0, false), -1);
  EXPECT_EQ(stream.Tell(), 0);
  EXPECT_EQ(stream.ReadU8(), -1);  // the failed open still set write mode
}

}  // namespace
