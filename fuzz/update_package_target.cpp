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

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/seed_books.h"
#include "package/entry_path.h"
#include "package/update_package.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Bytes;
using Snapshot = fuzz::FileSet;

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

// The install folder every input starts from, packed once by fixpack in a
// folder of the scratch that goes again before any input runs.
const Snapshot& Install() {
  static Snapshot files;
  if (!files.empty()) return files;
  const fs::path books = Scratch() / "books";
  fs::create_directories(books);
  files = fuzz::SeedInstall(books.string());
  std::error_code ignored;
  fs::remove_all(books, ignored);
  FUZZ_CHECK(!files.empty());
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
    if (item.is_regular_file())
      files[fs::relative(item.path(), folder).generic_string()] = ReadAll(item.path());
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
  const int32_t result =
      ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), install.string().c_str(), &report);
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
