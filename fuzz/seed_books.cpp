#include "fuzz/seed_books.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>

#include "book/divided_book.h"
#include "publish/book_image.h"
#include "publish/book_text.h"

namespace fuzz {

namespace {

// Few buckets, so that chains form; keys whose low words reach the top of
// their range and a high word of all ones; a move that would look like a
// delete but for its aux. The divided books spread over divisions 0, 1, 9,
// 32 and 63 by the top six bits of the high word.
const std::string Texts[SeedBookCount] = {
    // SeedSingleOld
    "buckets 3\n"
    "00000040 00000000 0007:0001:00000001 000e:0002:00000002\n"
    "00000041 00000000 0007:0001:00000003\n"
    "00000042 00000001 0015:0000:00000004 0003:0000:00000005 0009:0001:00000006\n"
    "00000043 00000002 0007:0000:00000007\n"
    "00000044 00000000 0001:0000:ffffffff\n",
    // SeedSingleNew: 40 gets a changed aux and a new move, 41 goes, 42
    // loses a move and changes another, 5000 and fffffffe are new.
    "buckets 3\n"
    "00000040 00000000 0007:0009:00000001 000e:0002:00000002 001e:0000:00000002\n"
    "00000042 00000001 0015:0000:00000004 0009:0001:00000060\n"
    "00000043 00000002 0007:0000:00000007\n"
    "00000044 00000000 0001:0000:ffffffff\n"
    "00005000 00000000 0003:0000:00000000\n"
    "fffffffe ffffffff 0002:fffe:00000001\n",
    // SeedSingleEmpty
    "buckets 3\n",
    // SeedDividedOld
    "buckets 1\n"
    "00000040 00000000 0005:0001:00000007 0009:0000:00000000\n"
    "00000041 04000000 0005:0000:00000001\n"
    "00000042 04000000 0006:0000:00000002\n"
    "00000050 24000001 0011:0002:00000003\n"
    "000000ff fc000000 0001:0000:00000001 0002:0000:00000002\n",
    // SeedDividedNew
    "buckets 1\n"
    "00000040 00000000 0005:0001:00000008\n"
    "00000041 04000000 0005:0000:00000001 0007:0000:00000001\n"
    "00000050 24000001 0011:0002:00000003\n"
    "00000060 24000000 0001:0000:00000001\n"
    "000000ff fc000000 0002:0000:00000002\n"
    "00000070 80000000 0004:0000:00000004\n",
};

bool ReadAll(const std::string& path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

}  // namespace

const std::string& SeedBookText(SeedBook book) { return Texts[book]; }

bool SeedBookDivided(SeedBook book) { return book == SeedDividedOld || book == SeedDividedNew; }

bool PackSeedBook(SeedBook book, const std::string& path) {
  {
    std::ofstream text(path + ".txt", std::ios::binary | std::ios::trunc);
    text << SeedBookText(book);
    if (!text) return false;
  }
  // The steps of `fixpack pack` without --buckets.
  BookText parsed;
  std::string error;
  if (!ParseBookText(SeedBookText(book), &parsed, &error)) return false;
  const uint32_t buckets = parsed.bucketCount != 0 ? parsed.bucketCount : DefaultBucketCount;
  if (SeedBookDivided(book) && !parsed.divided) SpreadOverDivisions(&parsed);
  std::vector<Bytes> blocks;
  for (TextBody& body : parsed.bodies) {
    JosekiTablePtr table = BuildTextBody(&body, body.bucketCount != 0 ? body.bucketCount : buckets, &error);
    blocks.emplace_back();
    if (!table || !PackBookBody(std::move(table), &blocks.back(), &error)) return false;
  }
  Bytes file;
  if (parsed.bodies.size() == static_cast<size_t>(DivisionCount)) {
    if (!DividedBookBytes(blocks, &file)) return false;
  } else {
    file = SingleBookBytes(blocks[0]);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

FileSet SeedInstall(const std::string& work) {
  FileSet files;
  const std::pair<const char*, SeedBook> books[] = {{"joseki.dat", SeedSingleOld},
                                                    {"book/div.dat", SeedDividedOld}};
  for (const auto& [name, book] : books) {
    const std::string path = work + "/seed-" + std::to_string(book) + ".dat";
    if (!PackSeedBook(book, path) || !ReadAll(path, &files[name])) return FileSet();
  }
  files["a.txt"] = Bytes{'o', 'l', 'd'};
  files["sub/readme.txt"] = Bytes{'r', 'e', 'a', 'd'};
  return files;
}

}  // namespace fuzz
