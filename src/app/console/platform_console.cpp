// The platform seam on a Linux terminal, for the native stand-in of the
// updater. The system it plays is a Windows of the NT family whose paths
// are code page 932 with backslashes: a native path is shown to the flow
// with its slashes turned into backslashes and its text converted to code
// page 932, and a path from the flow is turned back by the reverse of the
// separators only, as the package step does on this platform.
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "app/console/app_paths_file.h"
#include "app/console/code_page.h"
#include "app/console/console_dialog.h"
#include "app/install_lookup.h"
#include "app/platform.h"
#include "app/update_dialog_ids.h"
#include "package/package_files.h"
#include "stream/cp932_path.h"

struct WaitObject {
  std::mutex lock;
  std::condition_variable signalled;
  bool set = false;
};

struct RegistryKey {
  std::string path;    // the stored "Path" value, code page 932, with its NUL
  int32_t valueError;  // 0, or why the value cannot be read
};

namespace {

constexpr int32_t ErrorFileNotFound = 2;
constexpr int32_t ErrorInvalidData = 13;
constexpr int32_t ErrorMoreData = 234;

// A native path as the system shows it to the flow.
bool SystemPath(const std::string& native, std::string* system) {
  if (!ToSystem(native, system)) return false;
  for (char& c : *system) {
    if (c == '/') c = '\\';
  }
  return true;
}

// A system path as this platform's files know it: its real backslashes are
// separators.
std::string NativePath(const char* system) {
  std::string path(system);
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == '\\') {
      path[i] = '/';
    }
  }
  return path;
}

std::mutex& PromptLock() {
  static std::mutex lock;
  return lock;
}

// The system's texts for the error codes the stand-in produces.
const struct {
  int32_t code;
  const char* text;
} SystemTexts[] = {
    {2, "指定されたファイルが見つかりません。\r\n"},
    {3, "指定されたパスが見つかりません。\r\n"},
    {5, "アクセスが拒否されました。\r\n"},
    {8, "このコマンドを実行するのに十分な記憶域がありません。\r\n"},
    {13, "データが無効です。\r\n"},
    {234, "データがさらにあります。\r\n"},
};

}  // namespace

void PlatformSetItemText(PlatformWindow, int32_t id, const char* text) {
  if (id == IDC_MESSAGE) ConsoleDialog::Get().SetText(text);
}

void PlatformEnableItem(PlatformWindow, int32_t id, bool enable) { ConsoleDialog::Get().Enable(id, enable); }

void PlatformRepaint(PlatformWindow) { ConsoleDialog::Get().Repaint(); }

void PlatformPostDestroy(PlatformWindow) { ConsoleDialog::Get().PostDestroy(); }

WaitObject* PlatformCreateWaitObject() { return new (std::nothrow) WaitObject(); }

void PlatformWait(WaitObject* object) {
  ConsoleDialog::Get().WaitBegins();
  {
    std::unique_lock<std::mutex> guard(object->lock);
    object->signalled.wait(guard, [&] { return object->set; });
  }
  ConsoleDialog::Get().WaitEnds();
}

void PlatformSignal(WaitObject* object) {
  std::lock_guard<std::mutex> guard(object->lock);
  object->set = true;
  object->signalled.notify_all();
}

void PlatformCloseWaitObject(WaitObject* object) { delete object; }

void PlatformLockPrompt() { PromptLock().lock(); }
void PlatformUnlockPrompt() { PromptLock().unlock(); }

uint32_t PlatformGetModuleFileName(PlatformInstance, char* path, uint32_t size) {
  char native[4096];
  const ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
  if (length <= 0 || size == 0) return 0;
  native[length] = '\0';
  std::string system;
  if (!SystemPath(native, &system)) return 0;
  // Cut short like the system does: the buffer full, its last byte the NUL.
  const size_t copied = system.size() < size ? system.size() : size - 1;
  memcpy(path, system.data(), copied);
  path[copied] = '\0';
  return system.size() < size ? static_cast<uint32_t>(copied) : size;
}

bool PlatformFileExists(const char* path) {
  const std::string native = NativePath(path);
  struct stat status {};
  return stat(native.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(native.c_str(), R_OK) == 0;
}

int32_t PlatformGetPlatformId() { return 2; }

// The stand-in's paths are code page 932 (see NativePath).
bool PlatformIsLeadByte(unsigned char byte) { return IsCp932LeadByte(byte); }

// The App Paths file is one registry, the same in either view.
int32_t PlatformRegOpenKey(const char* subKey, RegistryView /*view*/, RegistryKey** key) {
  const size_t prefix = strlen(AppPathsKey);
  if (strncasecmp(subKey, AppPathsKey, prefix) != 0) return ErrorFileNotFound;
  std::string folder;
  const int32_t error = FindAppPath(subKey + prefix, &folder);
  if (error != 0) return error;
  RegistryKey* opened = new (std::nothrow) RegistryKey{std::string(), 0};
  if (opened == nullptr) return 8;
  // Stored as a string value is: the text and its NUL.
  if (ToSystem(folder, &opened->path)) {
    opened->path += '\0';
  } else {
    opened->valueError = ErrorInvalidData;
  }
  *key = opened;
  return 0;
}

int32_t PlatformRegQueryValue(RegistryKey* key, const char* name, char* data, uint32_t* size) {
  if (strcasecmp(name, "Path") != 0) return ErrorFileNotFound;
  if (key->valueError != 0) return key->valueError;
  const uint32_t stored = static_cast<uint32_t>(key->path.size());
  if (data != nullptr) {
    if (*size < stored) {
      *size = stored;
      return ErrorMoreData;
    }
    // Registry data come back as stored, without a terminator added, as
    // RegQueryValueExA gives them; the reader terminates them itself.
    memcpy(data, key->path.data(), stored);  // NOLINT(bugprone-not-null-terminated-result)
  }
  *size = stored;
  return 0;
}

void PlatformRegCloseKey(RegistryKey* key) { delete key; }

char* PlatformFormatMessage(int32_t code) {
  for (const auto& known : SystemTexts) {
    if (known.code == code) return strdup(known.text);
  }
  return nullptr;
}

void PlatformFreeMessage(char* text) { free(text); }

bool PlatformGetOpenFileName(const char* filter, char* file, uint32_t size) {
  // The first filter of the list: its description, then its pattern.
  const std::string description = filter;
  const std::string pattern = filter + description.size() + 1;
  std::string picked;
  std::string system;
  if (!ConsoleDialog::Get().Pick(description, pattern, &picked)) return false;
  if (!SystemPath(picked, &system) || system.size() >= size) return false;
  memcpy(file, system.c_str(), system.size() + 1);
  return true;
}

PackageFiles* PlatformPackageFiles() { return SystemPackageFiles(); }
