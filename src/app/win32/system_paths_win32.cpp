#include "app/win32/system_paths_win32.h"

#include <cstring>

namespace {

bool IsLongForm(const char* path) { return std::strncmp(path, "\\\\?\\", 4) == 0; }

// The path in UTF-16, or false with the system's error set.
bool Widened(const char* path, std::wstring* wide) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  wide->assign(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, &(*wide)[0], length);
  wide->resize(static_cast<size_t>(length - 1));
  if (!IsLongForm(path) && wide->size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

using CreateHardLinkFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);

CreateHardLinkFunction FindCreateHardLink() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<CreateHardLinkFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreateHardLinkW")));
}

}  // namespace

DWORD AttributesAt(const char* path) {
  std::wstring wide;
  return Widened(path, &wide) ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
}

BOOL SetAttributesAt(const char* path, DWORD attributes) {
  std::wstring wide;
  return Widened(path, &wide) && SetFileAttributesW(wide.c_str(), attributes);
}

HANDLE CreateFileAt(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  std::wstring wide;
  if (!Widened(path, &wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

HANDLE FindFirstFileAt(const char* path, WIN32_FIND_DATAW* found) {
  std::wstring wide;
  return Widened(path, &wide) ? FindFirstFileW(wide.c_str(), found) : INVALID_HANDLE_VALUE;
}

BOOL MoveFileAt(const char* from, const char* to, DWORD flags) {
  std::wstring wideFrom, wideTo;
  return Widened(from, &wideFrom) && Widened(to, &wideTo) && MoveFileExW(wideFrom.c_str(), wideTo.c_str(), flags);
}

BOOL DeleteFileAt(const char* path) {
  std::wstring wide;
  return Widened(path, &wide) && DeleteFileW(wide.c_str());
}

BOOL CreateHardLinkAt(const char* second, const char* present) {
  static const CreateHardLinkFunction createHardLink = FindCreateHardLink();
  if (createHardLink == nullptr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  std::wstring wideSecond, widePresent;
  return Widened(second, &wideSecond) && Widened(present, &widePresent) &&
         createHardLink(wideSecond.c_str(), widePresent.c_str(), nullptr);
}

std::string LongFormOf(const char* path) {
  std::wstring wide;
  if (IsLongForm(path)) return path;
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) return std::string();
  wide.assign(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], length);
  // The full path: the folder may be relative or hold / and .. which the
  // long form takes literally.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::string();
  std::wstring full(needed, L'\0');
  const DWORD made = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (made == 0 || made >= needed) return std::string();
  full.resize(made);
  if (full.compare(0, 2, L"\\\\") == 0) full = L"\\\\?\\UNC\\" + full.substr(2);
  else full = L"\\\\?\\" + full;
  // Back to the ANSI code page; a character it lacks would name another file.
  BOOL lossy = FALSE;
  const int narrowLength = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full.c_str(), -1, nullptr, 0,
                                               nullptr, &lossy);
  if (narrowLength <= 0 || lossy) return std::string();
  std::string narrow(static_cast<size_t>(narrowLength), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full.c_str(), -1, &narrow[0], narrowLength, nullptr, &lossy);
  narrow.resize(static_cast<size_t>(narrowLength - 1));
  return lossy ? std::string() : narrow;
}
