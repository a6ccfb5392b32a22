#include "package/update_package.h"

#include <zlib.h>

#include <cerrno>
#include <new>
#include <string>

#include "book/book_format.h"
#include "package/entry_path.h"
#include "package/package_entries.h"
#include "package/script_check.h"
#include "stream/byte_stream.h"

namespace {

// Sizes a block without letting an allocation failure escape as an exception.
bool Resize(std::vector<uint8_t>* block, uint32_t size) {
  try {
    block->resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

namespace {

struct ReadFailure {
  const char* cause = nullptr;
  int32_t systemError = 0;
};

// ReadUpdatePackage without its clean-up; may throw std::bad_alloc. errno is
// cleared before each system call whose failure is reported, so that what
// it holds then belongs to that call.
int32_t ReadPackage(const char* path, std::vector<uint8_t>* script, ReadFailure* failure) {
  const auto damaged = [&](const char* why) {
    *failure = {why, 0};
    return -1;
  };
  const auto failed = [&](const char* why) {
    *failure = {why, errno};
    return -1;
  };
  const auto noMemory = [&](const char* why) {
    *failure = {why, ENOMEM};
    return -1;
  };

  // The path in the system's form, as the updater's run names it.
  const std::string systemPath = EntryPath(nullptr, false, path);
  errno = 0;
  FileStreamPtr file(OpenFileStream(systemPath.c_str(), true));
  if (!file) return failed("the update data file cannot be opened");

  // The file's length bounds packedSize before anything is allocated; the
  // header alone is never trusted with an allocation.
  errno = 0;
  if (file->Seek(0, true) != 0) return failed("the update data file cannot be read");
  const int32_t fileLength = file->Tell();
  if (file->Seek(0, false) != 0) return failed("the update data file cannot be read");
  if (fileLength < 8) return damaged("the update data file is shorter than its header");

  const uint32_t packedSize = static_cast<uint32_t>(file->ReadU32());
  const uint32_t rawSize = static_cast<uint32_t>(file->ReadU32());
  if (packedSize > static_cast<uint32_t>(fileLength) - 8) {
    return damaged("the update data file is shorter than its header says");
  }
  if (rawSize > MaxScriptSize) return damaged("the package script would be larger than 1 GiB");
  if (rawSize > MostUnpacked(packedSize)) {
    return damaged("the package script is larger than its packed size allows");
  }

  std::vector<uint8_t> packed;
  if (!Resize(&packed, packedSize)) return noMemory("the update data file cannot be read");
  errno = 0;
  if (packedSize > 0 &&
      file->Read(packed.data(), static_cast<int32_t>(packedSize)) != static_cast<int32_t>(packedSize)) {
    return failed("the update data file cannot be read");
  }
  if (file->Close() != 0) return failed("the update data file cannot be read");
  file.reset();

  if (!Resize(script, rawSize)) return noMemory("the package script cannot be unpacked");
  uLongf produced = rawSize;
  const int unpacked = uncompress(script->data(), &produced, packed.data(), packedSize);
  if (unpacked == Z_MEM_ERROR) return noMemory("the package script cannot be unpacked");
  if (unpacked != Z_OK || produced != rawSize) {
    return damaged("the package script does not unpack to its stated size");
  }
  return 0;
}

}  // namespace

int32_t ReadUpdatePackage(const char* path, std::vector<uint8_t>* script, const char** cause,
                          int32_t* systemError) {
  script->clear();
  ReadFailure failure;
  int32_t result = -1;
  try {
    result = ReadPackage(path, script, &failure);
  } catch (const std::bad_alloc&) {
    failure = {"the update data file cannot be opened", ENOMEM};  // no room for its path
  }
  if (result == 0) return 0;
  script->clear();
  script->shrink_to_fit();
  if (cause != nullptr) *cause = failure.cause;
  if (systemError != nullptr) *systemError = failure.systemError;
  return -1;
}

int32_t ApplyPackage(uint8_t* script, uint32_t length, const char* folder, ApplyReport* report,
                     PackageFiles* files, int32_t threads) {
  // An empty vector's data() may be null; the stream still needs a block.
  static uint8_t empty = 0;
  if (script == nullptr) {
    script = &empty;
    length = 0;
  }
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  int32_t result = ApplyOk;
  // A name or a path that finds no memory throws; it is caught before the
  // entry touches a file, and fails that entry.
  try {
    // A damaged entry anywhere must not leave the entries before it applied.
    const int32_t checked = CheckPackageScript(script, length, report);
    if (checked != ApplyOk) return checked;
    MemoryStreamPtr package(OpenMemoryStream(script, length, true));
    if (!package) {
      *report = ApplyReport();
      report->cause = "no stream can be made over the package script";
      report->systemError = ENOMEM;
      return ApplyNoOldFile;
    }
    result = ApplyPackageEntries(package.get(), folder, report, files, threads);
  } catch (const std::bad_alloc&) {
    result = ApplyWriteFailed;
    report->cause = "the entry's names cannot be held";
    report->systemError = ENOMEM;
  }
  if (result != ApplyOk && report->failedEntry == 0) report->failedEntry = report->entriesApplied + 1;
  return result;
}
