#include "app/install_lookup.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/platform.h"
#include "app/update_dialog.h"
#include "stream/cp932_path.h"

const char AppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

namespace {

constexpr uint32_t KeyPathSize = 256;
constexpr uint32_t FilterSize = 256;
constexpr int32_t PickedPathSize = 8192;

// The products' installers are 32-bit programs: on 64-bit Windows they
// register in the 32-bit view of the registry, which a 32-bit updater reads
// by itself. A 64-bit one opens the key there first, then in its own view;
// the error of the last attempt is the one reported.
constexpr bool ProgramIs64Bit = sizeof(void*) == 8;

int32_t OpenAppPathsKey(const char* keyPath, RegistryKey** key) {
  if (ProgramIs64Bit && PlatformRegOpenKey(keyPath, RegistryView32, key) == 0) return 0;
  return PlatformRegOpenKey(keyPath, RegistryViewOwn, key);
}

// Reads the value "Path" of the open key into `folder`. 0, or the system
// error code of the failed query, or -1 when the folder cannot be held.
int32_t ReadPathValue(RegistryKey* key, TextBuffer* folder) {
  uint32_t size = 0;
  int32_t error = PlatformRegQueryValue(key, "Path", nullptr, &size);
  if (error != 0) return error;
  // One byte more than the stored data, so that data stored without a NUL
  // still ends in one.
  if (size >= static_cast<uint32_t>(INT32_MAX)) return -1;
  if (folder->Reserve(static_cast<int32_t>(size) + 1) != 0) return -1;
  uint32_t read = size;
  error = PlatformRegQueryValue(key, "Path", folder->text, &read);
  if (error != 0) {
    folder->text[0] = '\0';
    return error;
  }
  folder->text[read <= size ? read : size] = '\0';
  return 0;
}

// The Open dialog's filter list: description, NUL, pattern, NUL, and the
// NUL that ends the list. False when it does not fit the buffer.
bool BuildFilter(const ProductEntry& row, char (&filter)[FilterSize]) {
  const int described = snprintf(filter, FilterSize, "%s実行ファイル", row.displayName);
  if (described < 0) return false;
  const size_t patternAt = static_cast<size_t>(described) + 1;
  const size_t patternLength = strlen(row.appPathsName);
  if (patternAt + patternLength + 2 > FilterSize) return false;
  memcpy(filter + patternAt, row.appPathsName, patternLength + 1);
  filter[patternAt + patternLength + 1] = '\0';
  return true;
}

}  // namespace

namespace {

// What a lookup holds from the platform, released however it ends.
struct LookupHold {
  RegistryKey* key = nullptr;
  char* systemText = nullptr;

  LookupHold() = default;
  LookupHold(const LookupHold&) = delete;
  LookupHold& operator=(const LookupHold&) = delete;
  ~LookupHold() {
    CloseKey();
    if (systemText != nullptr) PlatformFreeMessage(systemText);
  }
  void CloseKey() {
    if (key != nullptr) PlatformRegCloseKey(key);
    key = nullptr;
  }
};

int32_t Lookup(TextBuffer* folder, const ProductEntry& row, bool allowBrowse, LookupHold* hold) {
  const int32_t platformId = PlatformGetPlatformId();
  if (platformId != 1 && platformId != 2) return LookupUnknownPlatform;

  int32_t status = LookupNotFound;
  char keyPath[KeyPathSize];
  const int keyLength = snprintf(keyPath, sizeof keyPath, "%s%s", AppPathsKey, row.appPathsName);
  if (keyLength > 0 && static_cast<uint32_t>(keyLength) < sizeof keyPath) {
    const int32_t openError = OpenAppPathsKey(keyPath, &hold->key);
    if (openError != 0) {
      hold->key = nullptr;
      hold->systemText = PlatformFormatMessage(openError);
    } else {
      const int32_t readError = ReadPathValue(hold->key, folder);
      if (readError == 0) {
        status = LookupLocated;
      } else if (readError == -1) {
        status = LookupNoMemory;
      } else {
        hold->systemText = PlatformFormatMessage(readError);
      }
      hold->CloseKey();
    }
  }

  while (allowBrowse && status == LookupNotFound) {
    ShowStatusError(LookupNotFound, hold->systemText);
    status = BrowseForInstallPath(folder, row);
  }
  return status;
}

}  // namespace

int32_t FindInstallPath(TextBuffer* folder, const ProductEntry& row, bool allowBrowse) {
  LookupHold hold;
  // The lookup allocates nothing that throws; a platform layer may (the
  // console stand-in's strings), and its lack of memory is this one's.
  try {
    return Lookup(folder, row, allowBrowse, &hold);
  } catch (const std::bad_alloc&) {
    folder->Free();
    return LookupNoMemory;
  }
}

int32_t BrowseForInstallPath(TextBuffer* folder, const ProductEntry& row) {
  char filter[FilterSize];
  if (!BuildFilter(row, filter)) return LookupCancelled;  // counts as a failed dialog
  if (folder->Reserve(PickedPathSize) != 0) return LookupNoMemory;
  if (!PlatformGetOpenFileName(filter, folder->text, static_cast<uint32_t>(folder->capacity))) {
    return LookupCancelled;
  }
  folder->text[folder->capacity - 1] = '\0';

  // A 0x5C that ends a double-byte character of the system's code page is
  // no separator: taking it for one would cut a folder out of the middle of
  // a file name.
  char* separator = FindLastBackslash(folder->text, PlatformIsLeadByte);
  if (separator == nullptr) return LookupNotFound;
  char* name = separator + 1;
  for (char* p = name; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 0x20);
  }
  if (strcmp(name, row.expectedExeName) != 0) return LookupNotFound;
  *name = '\0';
  return LookupLocated;
}

void ShowStatusError(int32_t code, const char* systemText) {
  if (code < 0 || code >= StatusMessageCount) return;
  const char* row = StatusMessages[code];
  if (systemText == nullptr) {
    ShowPrompt(row, PromptAcknowledge);
    return;
  }
  TextBuffer message;
  if (message.Append(row) != 0 || message.Append("\r\nError:") != 0 || message.Append(systemText) != 0) {
    ShowPrompt(row, PromptAcknowledge);
    return;
  }
  ShowPrompt(message.text, PromptAcknowledge);
}
