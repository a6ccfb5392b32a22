// Names compared by the system itself, as its file system compares them.
// The one file of the package step that calls Win32: which names are one
// file depends on the system's code page and its table of upper-case
// letters, and only the system knows both.
#include <windows.h>

#include <cstring>
#include <string>

#include "package/file_names.h"

namespace {

using CompareStringOrdinalFunction = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);

// Looked up at run time, as the programs start on systems that lack it
// (before Vista); there the code page 932 rule stands in.
CompareStringOrdinalFunction FindCompareStringOrdinal() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<CompareStringOrdinalFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CompareStringOrdinal")));
}

// The name as the file system sees it: UTF-16 by the system's code page,
// \ for /, and the dots and spaces at the end of each component dropped.
// False when it cannot be converted.
bool SystemForm(const char* name, std::wstring* wide) {
  const int length = static_cast<int>(strlen(name));
  wide->clear();
  if (length == 0) return true;
  const int count = MultiByteToWideChar(CP_ACP, 0, name, length, nullptr, 0);
  if (count <= 0) return false;
  std::wstring converted(static_cast<size_t>(count), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name, length, &converted[0], count) != count) return false;
  size_t componentStart = 0;
  for (size_t i = 0;; ++i) {
    const wchar_t c = i < converted.size() ? converted[i] : L'\0';
    if (c == L'\\' || c == L'/' || c == L'\0') {
      while (wide->size() > componentStart && (wide->back() == L'.' || wide->back() == L' '))
        wide->pop_back();
      if (c == L'\0') break;
      *wide += L'\\';
      componentStart = wide->size();
      continue;
    }
    *wide += c;
  }
  return true;
}

}  // namespace

int32_t CompareFileNames(const char* one, const char* other) {
  static const CompareStringOrdinalFunction compare = FindCompareStringOrdinal();
  std::wstring first, second;
  if (compare == nullptr || !SystemForm(one, &first) || !SystemForm(other, &second)) {
    return CompareCp932FileNames(one, other);
  }
  const int compared = compare(first.data(), static_cast<int>(first.size()), second.data(),
                               static_cast<int>(second.size()), TRUE);
  return compared == CSTR_LESS_THAN ? -1 : compared == CSTR_GREATER_THAN ? 1 : 0;
}
