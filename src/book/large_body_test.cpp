// Bodies whose counts claim sizes near 2^32. The files are sparse: a short
// zlib stream at the front of packed bytes that are mostly a hole, so the
// claims cost the test next to nothing while every size check sees them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "stream/byte_stream.h"
#include "testing/book_model.h"

namespace {

using namespace merge_test;

// A packed size that lets any rawSize up to 0xFFFFFFFF pass the 1032:1 rule.
constexpr uint32_t PackedSize = 4200000;

// A zlib stream of 16 MiB of zeros: far more than a block sized from a
// rawSize that wrapped around 2^32 can hold, far less than any claim here.
Bytes ZerosStream() {
  const Bytes zeros(16 * 1024 * 1024, 0);
  uLongf length = compressBound(zeros.size());
  Bytes stream(length);
  EXPECT_EQ(compress(stream.data(), &length, zeros.data(), zeros.size()), Z_OK);
  stream.resize(length);
  return stream;
}

// A BookBody claiming rawSize, of which only the front of its packed bytes
// is written; the rest is left to the file's hole.
Bytes ClaimingBody(uint32_t rawSize) {
  Bytes body;
  PutU32(&body, PackedSize);
  PutU32(&body, rawSize);
  const Bytes stream = ZerosStream();
  body.insert(body.end(), stream.begin(), stream.end());
  return body;
}

void WriteSparse(const std::string& path, const Bytes& front, uint64_t length) {
  WriteBytes(path, front);
  std::filesystem::resize_file(path, length);
}

struct Claim {
  const char* what;
  uint32_t rawSize;
};

// Room for the new body computed in 32 bits wraps to a few KiB at the first
// two, to 512 MiB at the last.
const Claim Claims[] = {
    {"room for the new body wraps to 4 KiB", 0xE38E2AAB},
    {"room for the new body wraps to 2 MiB", 0xE3900000},
    {"largest rawSize", 0xFFFFFFFF},
};

class LargeBodyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"old", "new"}) std::remove(TempPath(name).c_str());
  }
};

TEST_F(LargeBodyTest, ASingleBookClaimingNearly4GiBFailsWritingNothing) {
  const Bytes list = DiffList().Group(0x40, 0, {Put(1)}).End().bytes();
  for (const Claim& claim : Claims) {
    SCOPED_TRACE(claim.what);
    WriteSparse(TempPath("old"), ClaimingBody(claim.rawSize), 8 + uint64_t{PackedSize});
    FileStreamPtr oldFile(OpenFileStream(TempPath("old").c_str(), true));
    FileStreamPtr newFile(OpenFileStream(TempPath("new").c_str(), false));
    Bytes package = list;
    MemoryStreamPtr stream(OpenMemoryStream(package.data(), static_cast<uint32_t>(package.size()), true));
    ASSERT_TRUE(oldFile && newFile && stream);
    EXPECT_EQ(MergeBookDiff(stream.get(), oldFile.get(), newFile.get()), MergeFailed);
    EXPECT_EQ(stream->Tell(), 0);
    EXPECT_EQ(newFile->Close(), 0);
    EXPECT_TRUE(ReadBytes(TempPath("new")).empty());
  }
}

TEST_F(LargeBodyTest, ADivisionClaimingNearly4GiBFailsTheDividedMerge) {
  ModelBook empty;
  empty.bucketCount = 1;
  const Bytes small = PackBlock(RawBody(empty));
  for (const Claim& claim : Claims) {
    SCOPED_TRACE(claim.what);
    // Division 0 is the claiming body; the others share one small body
    // behind its hole, and the file runs on far enough for their counts.
    const uint32_t smallAt = DividedFirstBlock + 8 + PackedSize;
    Bytes front(DividedFirstBlock, 0);
    std::copy(DividedBookMagic, DividedBookMagic + 8, front.begin());
    for (int32_t k = 0; k < DivisionCount; ++k) {
      const uint32_t offset = k == 0 ? DividedFirstBlock : smallAt;
      for (int i = 0; i < 4; ++i) front[8 + 4 * k + i] = static_cast<uint8_t>(offset >> (8 * i));
    }
    const Bytes body = ClaimingBody(claim.rawSize);
    front.insert(front.end(), body.begin(), body.end());
    WriteBytes(TempPath("old"), front);
    {
      std::FILE* file = std::fopen(TempPath("old").c_str(), "r+b");
      ASSERT_NE(file, nullptr);
      ASSERT_EQ(std::fseek(file, static_cast<long>(smallAt), SEEK_SET), 0);
      ASSERT_EQ(std::fwrite(small.data(), 1, small.size(), file), small.size());
      ASSERT_EQ(std::fclose(file), 0);
    }
    std::filesystem::resize_file(TempPath("old"), smallAt + 64 * 1024);

    FileStreamPtr oldFile(OpenFileStream(TempPath("old").c_str(), true));
    FileStreamPtr newFile(OpenFileStream(TempPath("new").c_str(), false));
    Bytes package(4, 0);
    for (int32_t k = 0; k < DivisionCount; ++k) PutU32(&package, 0xFFFFFFFF);
    MemoryStreamPtr stream(OpenMemoryStream(package.data(), static_cast<uint32_t>(package.size()), true));
    ASSERT_TRUE(oldFile && newFile && stream);
    uint8_t skipped[8];
    ASSERT_EQ(oldFile->Read(skipped, 8), 8);
    ASSERT_EQ(newFile->Write(DividedBookMagic, 8), 8);
    EXPECT_EQ(MergeDividedBook(stream.get(), oldFile.get(), newFile.get()), DividedMergeFailed);
    EXPECT_EQ(newFile->Close(), 0);
    // Only the magic and the table of zeros: no block was written.
    Bytes expected(DividedFirstBlock, 0);
    std::copy(DividedBookMagic, DividedBookMagic + 8, expected.begin());
    EXPECT_EQ(ReadBytes(TempPath("new")), expected);
  }
}

}  // namespace
