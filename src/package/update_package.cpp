#include "package/update_package.h"

#include <zlib.h>

#include <new>

#include "package/entry_path.h"
#include "package/script_check.h"
#include "stream/byte_stream.h"

namespace {

// Deflate spends at least two bits on a 258-byte match, so no zlib stream
// unpacks to more than 1032 times its own length.
constexpr uint64_t MaxDeflateRatio = 1032;

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

int32_t ReadUpdatePackage(const char* path, std::vector<uint8_t>* script, const char** cause) {
  script->clear();
  auto fail = [&](const char* why) {
    script->clear();
    script->shrink_to_fit();
    if (cause != nullptr) *cause = why;
    return -1;
  };

  // The path in the system's form, as the updater's run names it.
  FileStreamPtr file(OpenFileStream(EntryPath(nullptr, false, path).c_str(), true));
  if (!file) return fail("the update data file cannot be opened");

  // The file's length bounds packedSize before anything is allocated; the
  // header alone is never trusted with an allocation.
  if (file->Seek(0, true) != 0) return fail("the update data file cannot be read");
  const int32_t fileLength = file->Tell();
  if (file->Seek(0, false) != 0) return fail("the update data file cannot be read");
  if (fileLength < 8) return fail("the update data file is shorter than its header");

  const uint32_t packedSize = static_cast<uint32_t>(file->ReadU32());
  const uint32_t rawSize = static_cast<uint32_t>(file->ReadU32());
  if (packedSize > static_cast<uint32_t>(fileLength) - 8) {
    return fail("the update data file is shorter than its header says");
  }
  if (rawSize > MaxScriptSize) return fail("the package script would be larger than 1 GiB");
  if (rawSize > packedSize * MaxDeflateRatio) {
    return fail("the package script is larger than its packed size allows");
  }

  std::vector<uint8_t> packed;
  if (!Resize(&packed, packedSize)) return fail("out of memory for the packed script");
  if (packedSize > 0 &&
      file->Read(packed.data(), static_cast<int32_t>(packedSize)) != static_cast<int32_t>(packedSize)) {
    return fail("the update data file cannot be read");
  }
  if (file->Close() != 0) return fail("the update data file cannot be read");
  file.reset();

  if (!Resize(script, rawSize)) return fail("out of memory for the package script");
  uLongf produced = rawSize;
  const int unpacked = uncompress(script->data(), &produced, packed.data(), packedSize);
  if (unpacked != Z_OK || produced != rawSize) {
    return fail("the package script does not unpack to its stated size");
  }
  return 0;
}

int32_t ApplyPackage(uint8_t* script, uint32_t length, const char* folder, ApplyReport* report,
                     PackageFiles* files) {
  // An empty vector's data() may be null; the stream still needs a block.
  static uint8_t empty = 0;
  if (script == nullptr) {
    script = &empty;
    length = 0;
  }
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  // A damaged entry anywhere must not leave the entries before it applied.
  const int32_t checked = CheckPackageScript(script, length, report);
  if (checked != ApplyOk) return checked;
  MemoryStreamPtr package(OpenMemoryStream(script, length, true));
  if (!package) {
    *report = ApplyReport();
    report->cause = "no stream can be made over the package script";
    return ApplyNoOldFile;
  }
  const int32_t result = ApplyPackageEntries(package.get(), folder, report, files);
  if (result != ApplyOk && report->failedEntry == 0) report->failedEntry = report->entriesApplied + 1;
  return result;
}
