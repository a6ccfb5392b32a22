// Writes the seed corpora of the fuzz targets: small well-formed inputs of
// every kind, made with the library's own table and writer code, plus the
// update data files around the scripts.
//
// usage: make_seeds FOLDER   (writes FOLDER/<target>/<name>)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "book/book_body.h"
#include "book/divided_book.h"
#include "fuzz_support.h"
#include "package/update_package.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Bytes;

fs::path root;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(root / target);
  std::ofstream out(root / target / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes* bytes, const Bytes& more) { bytes->insert(bytes->end(), more.begin(), more.end()); }

void U16(Bytes* bytes, uint32_t value) {
  bytes->push_back(static_cast<uint8_t>(value));
  bytes->push_back(static_cast<uint8_t>(value >> 8));
}

// One group of a BookDiff list: a key and its records (code, aux, data).
struct Record {
  uint16_t code, aux;
  uint32_t data;
};
void Group(Bytes* list, uint32_t low, uint32_t high, const std::vector<Record>& records) {
  fuzz::PutU32(list, low);
  fuzz::PutU32(list, high);
  list->push_back(static_cast<uint8_t>(records.size()));
  for (const Record& record : records) {
    U16(list, record.code);
    U16(list, record.aux);
    fuzz::PutU32(list, record.data);
  }
}
constexpr Record Delete(uint16_t code) { return {code, 0xFFFF, 0xFFFFFFFF}; }

// A diff list for the positions fuzz::SeedRawBody(…, seed) makes: a put, an overwrite, a
// delete and a new position, ended by `terminator`.
Bytes Diff(uint32_t seed, uint32_t terminator = 0xFFFFFFFF) {
  Bytes list;
  Group(&list, 0x100 + seed * 64, seed, {{7, 9, 1}, {30, 0, 2}});
  Group(&list, 0x100 + seed * 64 + 1, seed, {Delete(7)});
  Group(&list, 0x5000 + seed, seed, {{3, 0, 0}});
  fuzz::PutU32(&list, terminator);
  return list;
}

Bytes DividedFile(uint32_t firstOffset) {
  Bytes file(DividedBookMagic, DividedBookMagic + 8);
  file.resize(firstOffset);
  for (int32_t k = 0; k < DivisionCount; ++k) {
    const uint32_t offset = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) file[8 + 4 * k + i] = static_cast<uint8_t>(offset >> (8 * i));
    const Bytes raw = fuzz::SeedRawBody(1 + k % 2, k % 4, static_cast<uint32_t>(k));
    Append(&file, fuzz::PackBody(raw.data(), raw.size()));
    while (file.size() % 4 != 0) file.push_back(0);
  }
  return file;
}

// An ignored word and 64 lists, every eighth division changed.
Bytes DividedDiff() {
  Bytes package;
  fuzz::PutU32(&package, 0);
  for (uint32_t k = 0; k < DivisionCount; ++k) {
    if (k % 8 == 1) {
      Append(&package, Diff(k, k % 2 == 0 ? 0xFFFFFFFF : 0));
    } else {
      fuzz::PutU32(&package, 0xFFFFFFFF);
    }
  }
  return package;
}

void Name(Bytes* script, const std::string& name) {
  script->push_back(static_cast<uint8_t>(name.size() + 1));
  script->insert(script->end(), name.begin(), name.end());
  script->push_back(0);
}
void Head(Bytes* script, uint32_t kind, const std::string& oldName, const std::string& newName) {
  fuzz::PutU32(script, kind);
  Name(script, oldName);
  Name(script, newName);
}

// Scripts over the scratch install folder of FuzzUpdatePackage.
std::vector<Bytes> Scripts() {
  std::vector<Bytes> scripts;
  Bytes all;
  Head(&all, KindBook, "joseki.bak", "joseki.dat");
  Append(&all, Diff(0));
  Head(&all, KindDividedBook, "book\\div.bak", "book\\div.dat");
  Append(&all, DividedDiff());
  Head(&all, KindFile, "a.bak", "a.txt");
  fuzz::PutU32(&all, 5);
  Append(&all, Bytes{'n', 'e', 'w', '!', '\n'});
  scripts.push_back(all);

  Bytes files;
  Head(&files, KindFile, "sub\\readme.old", "sub\\readme.txt");
  fuzz::PutU32(&files, 3);
  Append(&files, Bytes{'a', 'b', 'c'});
  Head(&files, KindFile, "a.txt", "new.txt");
  fuzz::PutU32(&files, 0);
  fuzz::PutU32(&files, 0xFFFFFFFF);  // an end condition
  scripts.push_back(files);

  Bytes book;  // the same book twice: the second finds its old name taken
  for (int i = 0; i < 2; ++i) {
    Head(&book, KindBook, "joseki.bak", "joseki.dat");
    Append(&book, Diff(0, 7));
  }
  scripts.push_back(book);
  return scripts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: make_seeds FOLDER\n", stderr);
    return 2;
  }
  root = argv[1];

  const std::vector<Bytes> bodies = {fuzz::SeedRawBody(1, 0, 0), fuzz::SeedRawBody(1, 3, 1),
                                     fuzz::SeedRawBody(7, 20, 2), fuzz::SeedRawBody(0, 0, 0),
                                     fuzz::SeedRawBody(2, 40, 3)};
  for (size_t i = 0; i < bodies.size(); ++i) Put("book_body", "body" + std::to_string(i), bodies[i]);
  // One bucket listing one node record without moves.
  Bytes withEmpty = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  for (int i = 0; i < 13; ++i) withEmpty.push_back(0);
  Put("book_body", "empty_node", withEmpty);

  for (size_t i = 0; i < bodies.size(); ++i) {
    for (uint8_t mode = 0; mode < 2; ++mode) {
      const Bytes old = mode == 1 ? bodies[i] : fuzz::PackBody(bodies[i].data(), bodies[i].size());
      Bytes input{mode};
      U16(&input, static_cast<uint32_t>(old.size()));
      Append(&input, old);
      Append(&input, Diff(static_cast<uint32_t>(i), i % 2 == 0 ? 0xFFFFFFFF : 3));
      Put("book_merge", "merge" + std::to_string(i) + "_mode" + std::to_string(mode), input);
    }
  }

  for (uint32_t first : {DividedFirstBlock, DividedFirstBlock + 6}) {
    const Bytes file = DividedFile(first);
    Bytes input{0};
    fuzz::PutU32(&input, static_cast<uint32_t>(file.size()));
    Append(&input, file);
    Append(&input, DividedDiff());
    Put("divided_book", "file_at" + std::to_string(first), input);
  }
  {
    Bytes raws;
    for (uint32_t k = 0; k < 8; ++k) {
      const Bytes raw = fuzz::SeedRawBody(1, k % 3, k);
      U16(&raws, static_cast<uint32_t>(raw.size()));
      Append(&raws, raw);
    }
    Bytes input{1};
    fuzz::PutU32(&input, static_cast<uint32_t>(raws.size()));
    Append(&input, raws);
    Append(&input, DividedDiff());
    Put("divided_book", "built", input);
  }

  const std::vector<Bytes> scripts = Scripts();
  for (size_t i = 0; i < scripts.size(); ++i) {
    Bytes raw{1};
    Append(&raw, scripts[i]);
    Put("update_package", "script" + std::to_string(i), raw);
    Bytes file{0};
    Append(&file, fuzz::PackBody(scripts[i].data(), scripts[i].size()));
    Put("update_package", "datafile" + std::to_string(i), file);
  }
  return 0;
}
