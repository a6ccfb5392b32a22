// Writes the seed corpora of the fuzz targets from what a publisher ships:
// the seed books packed with `fixpack pack`, update data files made with
// `fixpack build` against the package target's own install folder, and
// those outputs cut into each target's input layout.
//
// usage: make_seeds FOLDER   (writes FOLDER/<target>/<name>)
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "book/divided_book.h"
#include "fixpack/fixpack_commands.h"
#include "fuzz/seed_books.h"
#include "package/update_package.h"
#include "publish/book_image.h"
#include "publish/package_script.h"
#include "publish/packed_block.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Bytes;

fs::path root;
fs::path work;

[[noreturn]] void Die(const std::string& why) {
  fprintf(stderr, "make_seeds: %s\n", why.c_str());
  std::error_code ignored;
  fs::remove_all(work, ignored);
  exit(1);
}

// Runs a fixpack command (its arguments behind its name) with what it
// prints on stdout thrown away; errors still go to stderr. Returns the
// command's exit status.
int RunFixpackQuietly(int (*command)(int, char**), std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  // The commands report each file they write; among the seeds' own lines
  // those are only noise.
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int sink = open("/dev/null", O_WRONLY);
  if (saved >= 0 && sink >= 0) dup2(sink, STDOUT_FILENO);
  const int status = command(static_cast<int>(argv.size()), argv.data());
  fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  if (sink >= 0) close(sink);
  return status;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die(path.string() + ": cannot be read");
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) Die(path.string() + ": cannot be written");
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteAll(path, Bytes(text.begin(), text.end()));
}

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  // Seeds stay small, so that the fuzzer spends its time mutating.
  if (bytes.size() >= 4096) Die(target + "/" + name + " has " + std::to_string(bytes.size()) + " bytes");
  WriteAll(root / target / name, bytes);
}

void Append(Bytes* bytes, const Bytes& more) { bytes->insert(bytes->end(), more.begin(), more.end()); }

void U16(Bytes* bytes, size_t value) {
  bytes->push_back(static_cast<uint8_t>(value));
  bytes->push_back(static_cast<uint8_t>(value >> 8));
}

// The manifest's lines, made into an update data file by `fixpack build`.
struct Built {
  Bytes dataFile;
  Bytes script;  // as the updater reads it from the data file
  ScriptWalk walk;
};

Built Build(const std::string& name, const std::string& manifest) {
  WriteText(work / (name + ".txt"), manifest);
  const fs::path output = work / (name + ".dat");
  if (RunFixpackQuietly(RunBuild, {(work / (name + ".txt")).string(), "-o", output.string()}) != 0) {
    Die("fixpack build refused " + name + ".txt");
  }
  Built built;
  built.dataFile = ReadAll(output);
  const char* cause = nullptr;
  if (ReadUpdatePackage(output.string().c_str(), &built.script, &cause) != 0)
    Die(name + ".dat does not read");
  built.walk = WalkScript(built.script.data(), static_cast<uint32_t>(built.script.size()));
  if (!built.walk.problems.empty()) Die(name + ".dat: " + built.walk.problems[0].text);
  return built;
}

Bytes Payload(const Built& built, size_t entry) {
  const ScriptEntry& e = built.walk.entries.at(entry);
  return Bytes(built.script.begin() + e.payloadOffset,
               built.script.begin() + e.payloadOffset + e.payloadSize);
}

// The whole entry, head and payload.
Bytes Entry(const Built& built, size_t entry) {
  const ScriptEntry& e = built.walk.entries.at(entry);
  return Bytes(built.script.begin() + e.offset, built.script.begin() + e.payloadOffset + e.payloadSize);
}

// The raw body of a book's body `body` (0 for a single book).
Bytes RawBody(const Bytes& file, int32_t body) {
  BookImage image;
  std::string error;
  if (!ParseBookImage(file, &image, &error)) Die(error);
  const uint32_t offset = BookBodyOffset(image, body);
  Bytes raw;
  if (!BlockUsable(UnpackBlock(file.data() + offset, file.size() - offset, &raw)))
    Die("a seed body does not unpack");
  return raw;
}

// The BookBody block of a single book: all behind its magic.
Bytes Block(const Bytes& file) { return Bytes(file.begin() + 8, file.end()); }

// The payload with its list's last terminator replaced.
Bytes WithTerminator(Bytes payload, uint32_t terminator) {
  for (size_t i = 0; i < 4; ++i)
    payload[payload.size() - 4 + i] = static_cast<uint8_t>(terminator >> (8 * i));
  return payload;
}

const char* const BookNames[fuzz::SeedBookCount] = {"single-old.dat", "single-new.dat", "single-empty.dat",
                                                    "divided-old.dat", "divided-new.dat"};

}  // namespace

// large_sizes: the size fields near 2^31, 2^32 and the 1032:1 rule, each in
// front of a few bytes that are really there.
void PutLargeSizeSeeds() {
  constexpr uint8_t Placed = 8, LikeMemory = 16;
  // The front of the packed bytes: a zlib stream of 256 KiB of zeros, more
  // than any block sized from a wrapped rawSize could hold.
  const Bytes unpacked(256 * 1024, 0);
  uLongf packedLength = compressBound(unpacked.size());
  Bytes zeros(packedLength);
  if (compress(zeros.data(), &packedLength, unpacked.data(), unpacked.size()) != Z_OK) Die("compress failed");
  zeros.resize(packedLength);
  auto single = [&](const char* name, uint8_t selector, uint32_t packedSize, uint32_t rawSize,
                    uint32_t length) {
    Bytes input{selector};
    fuzz::PutU32(&input, packedSize);
    fuzz::PutU32(&input, rawSize);
    fuzz::PutU32(&input, length);
    U16(&input, zeros.size());
    Append(&input, zeros);
    fuzz::PutU32(&input, 0x40);  // one group that puts one move
    fuzz::PutU32(&input, 0);
    Append(&input, Bytes{1, 5, 0, 1, 0, 7, 0, 0, 0});
    fuzz::PutU32(&input, 0xFFFFFFFF);
    Put("large_sizes", name, input);
  };
  single("single_room_wraps", 0, 4200000, 0xE38E2AAB, 4200008);
  single("single_raw_near_2p32", 0, 4200000, 0xFFFFFFFF, 4200008);
  single("single_at_1032_to_1", 0, 4161536, 4161536u * 1032 + 1024, 4161544);
  single("single_past_1032_to_1", 0, 4161536, 4161536u * 1032 + 1025, 4161544);
  single("single_file_near_2p31", 0, 0x7FFFFFF0, 0x80000000, 0x7FFFFFF8);
  single("single_file_past_2p31", LikeMemory, 0x80000000, 0xFFFFFFFF, 0x80000010);

  auto divided = [&](const char* name, uint8_t selector, uint32_t length, uint32_t offset, uint32_t rawSize) {
    Bytes input{selector};
    fuzz::PutU32(&input, length);
    for (int32_t k = 0; k < DivisionCount; ++k) fuzz::PutU32(&input, offset);
    input.push_back(1);
    fuzz::PutU32(&input, 4200000);
    fuzz::PutU32(&input, rawSize);
    U16(&input, zeros.size());
    Append(&input, zeros);
    fuzz::PutU32(&input, 0);  // the ignored word, then empty lists
    for (int32_t k = 0; k < DivisionCount; ++k) fuzz::PutU32(&input, 0xFFFFFFFF);
    Put("large_sizes", name, input);
  };
  divided("divided_room_wraps", 1 | Placed, 0x7FFFFF00, 0x40000000, 0xE38E2AAB);
  divided("divided_offsets_near_2p31", 1, 0x80000100, 0x7FFFFFF8, 0xFFFFFFFF);
  divided("divided_offsets_near_2p32", 1 | LikeMemory, 0xFFFFFFFF, 0xFFFFFFF0, 0xFFFFFFFF);

  auto raw = [&](const char* name, uint32_t buckets, uint32_t nodes, uint32_t moves, uint32_t length) {
    Bytes input{2};
    for (uint32_t count : {buckets, nodes, moves, length}) fuzz::PutU32(&input, count);
    Append(&input, Bytes(64, 0));
    Put("large_sizes", name, input);
  };
  raw("raw_moves_just_below_2p32", 0, 0, 0x1FFFFFFE, 0xFFFFFFFF);
  raw("raw_moves_past_2p32", 0, 0, 0x1FFFFFFF, 0xFFFFFFFF);
  raw("raw_buckets_near_2p32", 0x2AAAAAA8, 0, 0, 0xFFFFFFFF);
  raw("raw_nodes_near_2p31", 1, 0x09D89D89, 0, 0x80000000);

  auto script = [&](const char* name, uint8_t selector, uint32_t length, uint32_t payload) {
    Bytes input{selector};
    fuzz::PutU32(&input, length);
    fuzz::PutU32(&input, KindFile);
    for (const char* entryName : {"a.bak", "a.txt"}) {
      input.push_back(6);
      Append(&input, Bytes(entryName, entryName + 6));
    }
    fuzz::PutU32(&input, payload);
    Append(&input, Bytes{'h', 'i'});
    Put("large_sizes", name, input);
  };
  script("script_payload_near_2p32", 3, 0xFFFFFFFF, 0xFFFFFFF0);
  script("script_payload_past_2p31", 3, 0x80000010, 0x80000000);
  script("script_payload_past_end", 3 | LikeMemory, 0x7FFFFFFF, 0xFFFFFFFF);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: make_seeds FOLDER\n", stderr);
    return 2;
  }
  root = argv[1];
  work = fs::temp_directory_path() / ("make-seeds-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directories(work);

  const fuzz::FileSet install = fuzz::SeedInstall(work.string());
  if (install.empty()) Die("the install folder's books do not pack");
  for (const auto& [name, bytes] : install) WriteAll(work / "install" / name, bytes);
  Bytes books[fuzz::SeedBookCount];
  for (int32_t b = 0; b < fuzz::SeedBookCount; ++b) {
    const fuzz::SeedBook book = static_cast<fuzz::SeedBook>(b);
    if (!fuzz::PackSeedBook(book, (work / BookNames[b]).string()))
      Die(std::string(BookNames[b]) + " does not pack");
    books[b] = ReadAll(work / BookNames[b]);
  }
  WriteText(work / "a.new", "new!\n");
  WriteText(work / "readme.new", "abc");
  WriteText(work / "empty.new", "");

  // Against the install folder: build applies each entry in memory to the
  // installed book and refuses the package unless it reaches the new one.
  const Built all = Build("upda",
                          "book    joseki.bak joseki.dat install/joseki.dat single-new.dat\n"
                          "divided book\\div.bak book\\div.dat install/book/div.dat divided-new.dat\n"
                          "file    a.bak a.txt a.new\n");
  const Built files = Build("updb",
                            "file sub\\readme.old sub\\readme.txt readme.new\n"
                            "file a.txt new.txt empty.new\n");
  // Book pairs in both directions, for the merge targets.
  const Built pairs = Build("pairs",
                            "book    p0.bak p0.dat single-old.dat single-new.dat\n"
                            "book    p1.bak p1.dat single-new.dat single-old.dat\n"
                            "book    p2.bak p2.dat single-old.dat single-empty.dat\n"
                            "book    p3.bak p3.dat single-empty.dat single-new.dat\n"
                            "divided d0.bak d0.dat divided-old.dat divided-new.dat\n"
                            "divided d1.bak d1.dat divided-new.dat divided-old.dat\n");

  // The real applier on the real folder gives the new books byte for byte.
  fs::copy(work / "install", work / "applied", fs::copy_options::recursive);
  if (RunFixpackQuietly(RunApply, {(work / "upda.dat").string(), (work / "applied").string()}) != 0 ||
      ReadAll(work / "applied" / "joseki.dat") != books[fuzz::SeedSingleNew] ||
      ReadAll(work / "applied" / "book" / "div.dat") != books[fuzz::SeedDividedNew]) {
    Die("upda.dat does not bring the install folder to the new books");
  }

  for (int32_t b : {fuzz::SeedSingleOld, fuzz::SeedSingleNew, fuzz::SeedSingleEmpty}) {
    Put("book_body", BookNames[b], RawBody(books[b], 0));
  }
  for (int32_t division : {0, 9, 63}) {
    Put("book_body", "divided-new.dat." + std::to_string(division),
        RawBody(books[fuzz::SeedDividedNew], division));
  }
  // One bucket listing one node record without moves: no packer writes it,
  // but the loader must pass over it.
  Bytes withEmpty = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  withEmpty.resize(withEmpty.size() + 13);
  Put("book_body", "empty_node", withEmpty);

  // book_merge: u8 mode, u16 L, the old body (packed, or raw for mode 1),
  // the entry's list, its terminator in each form the reader takes.
  const int32_t pairOld[] = {fuzz::SeedSingleOld, fuzz::SeedSingleNew, fuzz::SeedSingleOld,
                             fuzz::SeedSingleEmpty};
  const uint32_t terminators[] = {0, 0xFFFFFFFF, 0x3F, 0};
  for (size_t p = 0; p < 4; ++p) {
    const Bytes payload = WithTerminator(Payload(pairs, p), terminators[p]);
    for (uint8_t mode = 0; mode < 2; ++mode) {
      const Bytes old = mode == 0 ? Block(books[pairOld[p]]) : RawBody(books[pairOld[p]], 0);
      Bytes input{mode};
      U16(&input, old.size());
      Append(&input, old);
      Append(&input, payload);
      Put("book_merge", "p" + std::to_string(p) + "_mode" + std::to_string(mode), input);
    }
  }

  // divided_book: u8 mode, u32 L, the old file (or, for mode 1, its 64 raw
  // bodies each behind a u16 length), the entry's payload.
  const int32_t dividedOld[] = {fuzz::SeedDividedOld, fuzz::SeedDividedNew};
  for (size_t d = 0; d < 2; ++d) {
    const Bytes& old = books[dividedOld[d]];
    Bytes input{0};
    fuzz::PutU32(&input, static_cast<uint32_t>(old.size()));
    Append(&input, old);
    Append(&input, Payload(pairs, 4 + d));
    Put("divided_book", "d" + std::to_string(d) + "_file", input);
  }
  {
    Bytes raws;
    for (int32_t k = 0; k < DivisionCount; ++k) {
      const Bytes raw = RawBody(books[fuzz::SeedDividedOld], k);
      U16(&raws, raw.size());
      Append(&raws, raw);
    }
    Bytes input{1};
    fuzz::PutU32(&input, static_cast<uint32_t>(raws.size()));
    Append(&input, raws);
    Append(&input, Payload(pairs, 4));
    Put("divided_book", "d0_bodies", input);
  }

  // update_package: u8 mode, then the data file (mode 0) or its bare script
  // (mode 1).
  for (const auto& [name, built] : {std::make_pair("upda", &all), std::make_pair("updb", &files)}) {
    Bytes file{0};
    Append(&file, built->dataFile);
    Put("update_package", std::string(name) + ".dat", file);
  }
  Bytes script{1};
  Append(&script, all.script);
  Put("update_package", "upda.script", script);
  script = Bytes{1};
  Append(&script, files.script);
  fuzz::PutU32(&script, 0xFFFFFFFF);  // a kind that ends the package
  Put("update_package", "updb.script_ended", script);
  script = Bytes{1};  // the book entry twice: the second finds its old name taken
  Append(&script, Entry(all, 0));
  Append(&script, Entry(all, 0));
  Put("update_package", "book_twice.script", script);

  PutLargeSizeSeeds();

  fs::remove_all(work);
  return 0;
}
