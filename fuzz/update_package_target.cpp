// The update data file from its first byte to the files it changes: the
// envelope, the unpacking and the applier, against a real folder on disk.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "book/book_body.h"
#include "book/divided_book.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "package/entry_path.h"
#include "package/update_package.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Bytes;
using Snapshot = std::map<std::string, Bytes>;

std::string scratchBase;
fs::path scratchFolder;

void RemoveScratch() {
  std::error_code ignored;
  fs::remove_all(scratchFolder, ignored);
}

const fs::path& Scratch() {
  fs::path& folder = scratchFolder;
  if (folder.empty()) {
    std::string base = scratchBase;
    if (base.empty()) base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    folder = fs::path(base) / ("fixfuzz-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    atexit(RemoveScratch);  // a run that ends normally leaves nothing behind
  }
  return folder;
}

// The install folder every input starts from.
const Snapshot& Install() {
  static Snapshot files;
  if (!files.empty()) return files;
  const Bytes raw = fuzz::SeedRawBody(4, 6, 0);
  Bytes book(BookFileMagic, BookFileMagic + 8);
  const Bytes body = fuzz::PackBody(raw.data(), raw.size());
  book.insert(book.end(), body.begin(), body.end());
  files["joseki.dat"] = book;

  Bytes divided(DividedBookMagic, DividedBookMagic + 8);
  divided.resize(DividedFirstBlock);
  for (int32_t k = 0; k < DivisionCount; ++k) {
    const uint32_t offset = static_cast<uint32_t>(divided.size());
    for (int i = 0; i < 4; ++i) divided[8 + 4 * k + i] = static_cast<uint8_t>(offset >> (8 * i));
    const Bytes division = fuzz::SeedRawBody(1, k % 3, static_cast<uint32_t>(k));
    const Bytes block = fuzz::PackBody(division.data(), division.size());
    divided.insert(divided.end(), block.begin(), block.end());
    while (divided.size() % 4 != 0) divided.push_back(0);
  }
  files["book/div.dat"] = divided;
  files["a.txt"] = Bytes{'o', 'l', 'd'};
  files["sub/readme.txt"] = Bytes{'r', 'e', 'a', 'd'};
  return files;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Snapshot Take(const fs::path& folder) {
  Snapshot files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) files[fs::relative(item.path(), folder).generic_string()] = ReadAll(item.path());
  }
  return files;
}

}  // namespace

void SetFuzzScratchBase(const char* base) { scratchBase = base != nullptr ? base : ""; }

int FuzzUpdatePackage(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data, --size;

  const fs::path& scratch = Scratch();
  const fs::path install = scratch / "install";
  const fs::path dataFile = scratch / "upd.dat";
  std::error_code ignored;
  fs::remove_all(install, ignored);
  for (const auto& [name, bytes] : Install()) {
    fs::create_directories((install / name).parent_path());
    WriteAll(install / name, bytes);
  }
  if ((mode & 1) != 0) {
    Bytes file;
    const Bytes body = fuzz::PackBody(data, size);
    WriteAll(dataFile, body);
  } else {
    WriteAll(dataFile, Bytes(data, data + size));
  }

  std::vector<uint8_t> script;
  const char* cause = nullptr;
  if (ReadUpdatePackage(dataFile.string().c_str(), &script, &cause) != 0) {
    FUZZ_CHECK(script.empty());
    FUZZ_CHECK(cause != nullptr);
    FUZZ_CHECK(Take(install) == Install());
    return 0;
  }
  ApplyReport report;
  const int32_t result = ApplyPackage(script.data(), static_cast<uint32_t>(script.size()),
                                      install.string().c_str(), &report);
  FUZZ_CHECK((result == ApplyOk) == (report.cause == nullptr));

  // Every name stays inside the install folder, and no temporary is left.
  for (const auto& item : fs::directory_iterator(scratch)) {
    const std::string name = item.path().filename().string();
    FUZZ_CHECK(name == "install" || name == "upd.dat");
  }
  for (const auto& item : fs::recursive_directory_iterator(install)) {
    FUZZ_CHECK(!IsPackageTempName(item.path().filename().string().c_str()));
  }
  return 0;
}
