// The platform seam on Win32: each operation is the one system call that
// its declaration names, with the arguments the updater has always used.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>

#include "app/platform.h"

namespace {

HWND Window(PlatformWindow dialog) { return static_cast<HWND>(dialog); }
HANDLE Handle(WaitObject* object) { return reinterpret_cast<HANDLE>(object); }
HKEY Key(RegistryKey* key) { return reinterpret_cast<HKEY>(key); }

// The prompt lock. Made before WinMain runs, so that both threads find it
// ready; it lives until the process ends.
struct PromptLock {
  CRITICAL_SECTION section;
  PromptLock() { InitializeCriticalSection(&section); }
};
PromptLock promptLock;

// GetVersionExA is given the size of the basic OSVERSIONINFOA.
constexpr DWORD VersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == VersionInfoSize, "OSVERSIONINFOA is 148 bytes");

// The Open dialog's structure size: the classic 76-byte form on 32-bit
// Windows, which every version accepts; on 64-bit Windows there is only the
// structure's own size.
#ifdef _WIN64
constexpr DWORD OpenFileNameSize = sizeof(OPENFILENAMEA);
#else
constexpr DWORD OpenFileNameSize = 76;
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == OpenFileNameSize,
              "the 76-byte OPENFILENAMEA ends with lpTemplateName");
#endif
constexpr DWORD OpenFileFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
static_assert(OpenFileFlags == 0x81800, "the Open dialog's flags");

}  // namespace

void PlatformSetItemText(PlatformWindow dialog, int32_t id, const char* text) {
  SetWindowTextA(GetDlgItem(Window(dialog), id), text);
}

void PlatformEnableItem(PlatformWindow dialog, int32_t id, bool enable) {
  EnableWindow(GetDlgItem(Window(dialog), id), enable ? TRUE : FALSE);
}

void PlatformRepaint(PlatformWindow dialog) { InvalidateRect(Window(dialog), nullptr, FALSE); }

void PlatformPostDestroy(PlatformWindow dialog) { PostMessageA(Window(dialog), WM_DESTROY, 0, 0); }

WaitObject* PlatformCreateWaitObject() {
  return reinterpret_cast<WaitObject*>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void PlatformWait(WaitObject* object) { WaitForSingleObject(Handle(object), INFINITE); }

void PlatformSignal(WaitObject* object) { SetEvent(Handle(object)); }

void PlatformCloseWaitObject(WaitObject* object) { CloseHandle(Handle(object)); }

void PlatformLockPrompt() { EnterCriticalSection(&promptLock.section); }

void PlatformUnlockPrompt() { LeaveCriticalSection(&promptLock.section); }

uint32_t PlatformGetModuleFileName(PlatformInstance instance, char* path, uint32_t size) {
  return GetModuleFileNameA(static_cast<HMODULE>(instance), path, size);
}

bool PlatformFileExists(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

int32_t PlatformGetPlatformId() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = VersionInfoSize;
  if (!GetVersionExA(&version)) return 0;
  return static_cast<int32_t>(version.dwPlatformId);
}

bool PlatformIsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

int32_t PlatformRegOpenKey(const char* subKey, RegistryView view, RegistryKey** key) {
  const REGSAM access = view == RegistryView32 ? KEY_READ | KEY_WOW64_32KEY : KEY_READ;
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &opened);
  *key = result == ERROR_SUCCESS ? reinterpret_cast<RegistryKey*>(opened) : nullptr;
  return static_cast<int32_t>(result);
}

int32_t PlatformRegQueryValue(RegistryKey* key, const char* name, char* data, uint32_t* size) {
  DWORD count = *size;
  const LONG result =
      RegQueryValueExA(Key(key), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &count);
  *size = count;
  return static_cast<int32_t>(result);
}

void PlatformRegCloseKey(RegistryKey* key) { RegCloseKey(Key(key)); }

char* PlatformFormatMessage(int32_t code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                     static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0) {
    if (text != nullptr) LocalFree(text);
    return nullptr;
  }
  return text;
}

void PlatformFreeMessage(char* text) {
  if (text != nullptr) LocalFree(text);
}

bool PlatformGetOpenFileName(const char* filter, char* file, uint32_t size) {
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OpenFileNameSize;
  dialog.hwndOwner = nullptr;  // not owned by the update dialog, which keeps running
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file;
  dialog.nMaxFile = size;
  dialog.lpstrTitle = "";
  dialog.Flags = OpenFileFlags;
  return GetOpenFileNameA(&dialog) != FALSE;
}
