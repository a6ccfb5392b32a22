#include "fixpack/terminal_text.h"

#include <cerrno>
#include <cstdarg>
#include <new>

#include "fixpack/progress.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <clocale>
#include <cstring>
#endif

namespace {

#ifdef _WIN32
// A console is written as Unicode, which it shows in any code page; what
// goes elsewhere keeps its bytes.
bool WriteToConsole(FILE* stream, const char* text, size_t size) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;
  const int length = static_cast<int>(size);
  const int wide = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
  if (wide <= 0) return false;
  try {
    std::wstring unicode(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, length, &unicode[0], wide);
    fflush(stream);
    DWORD written = 0;
    return WriteConsoleW(handle, unicode.data(), static_cast<DWORD>(unicode.size()), &written, nullptr) != 0;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
#else
bool utf8Terminal = false;

// The text turned from code page 932 into UTF-8, whole or not at all.
bool ToUtf8(const char* text, size_t size, std::string* converted) {
  iconv_t convert = iconv_open("UTF-8", "CP932");
  if (convert == reinterpret_cast<iconv_t>(-1)) return false;
  bool whole = false;
  try {
    converted->assign(size * 3 / 2 + 16, '\0');
    char* in = const_cast<char*>(text);
    size_t inLeft = size;
    char* out = &(*converted)[0];
    size_t outLeft = converted->size();
    while (inLeft > 0) {
      if (iconv(convert, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) continue;
      if (errno != E2BIG) break;
      const size_t used = static_cast<size_t>(out - converted->data());
      converted->resize(converted->size() * 2);
      out = &(*converted)[used];
      outLeft = converted->size() - used;
    }
    whole = inLeft == 0;
    converted->resize(static_cast<size_t>(out - converted->data()));
  } catch (const std::bad_alloc&) {
  }
  iconv_close(convert);
  return whole;
}
#endif

bool IsAscii(const char* text, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

void TakeTerminalEncoding() {
#ifndef _WIN32
  setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  utf8Terminal = codeset != nullptr && (strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "utf8") == 0);
#endif
}

void WriteText(FILE* stream, const char* text, size_t size) {
  Progress::ClearShown();
  // What was said on stdout comes first, also where stdout is a file.
  if (stream == stderr) fflush(stdout);
  if (!IsAscii(text, size)) {
#ifdef _WIN32
    if (WriteToConsole(stream, text, size)) return;
#else
    std::string converted;
    if (utf8Terminal && ToUtf8(text, size, &converted)) {
      fwrite(converted.data(), 1, converted.size(), stream);
      return;
    }
#endif
  }
  fwrite(text, 1, size, stream);
}

void WriteText(FILE* stream, const std::string& text) { WriteText(stream, text.data(), text.size()); }

namespace {

// Short lines are made on the stack, so that saying that memory ran out
// needs none; `arguments` is read once for the line and once more only for
// a longer one.
void SayList(FILE* stream, const char* format, va_list arguments) {
  char line[1024];
  va_list first;
  va_copy(first, arguments);
  const int length = vsnprintf(line, sizeof line, format, first);
  va_end(first);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof line) {
    WriteText(stream, line, static_cast<size_t>(length));
    return;
  }
  try {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, arguments);
    text.pop_back();
    WriteText(stream, text);
  } catch (const std::bad_alloc&) {
    WriteText(stream, line, sizeof line - 1);
  }
}

}  // namespace

// printf's own checked format is kept (the attribute in the header), which
// a template of arguments would lose.
void Say(FILE* stream, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list arguments;
  va_start(arguments, format);
  SayList(stream, format, arguments);
  va_end(arguments);
}
