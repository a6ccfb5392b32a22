// What fixpack prints, in the encoding of the terminal that shows it. Names
// and paths are code page 932 bytes, as the updater and Windows take them;
// a terminal that shows another encoding gets them converted, so that the
// manifest that reads well there is the one that reaches users intact.
//
// Natively the encoding is the locale's (LC_CTYPE, set by the program's
// main): UTF-8 gets the text converted, any other keeps the bytes. On
// Windows a console shows the text as Unicode whatever its code page; a
// pipe or a file gets the code page 932 bytes, as Windows programs write
// them. Text that is not code page 932 is written as it stands.
#pragma once

#include <cstdio>
#include <string>

// Sets the terminal's encoding from the environment (natively the locale's
// LC_CTYPE). Until it is called, text is written as it stands.
void TakeTerminalEncoding();

// Writes `text` to `stream` in the terminal's encoding, after clearing the
// progress line that stands on the terminal, if any. Never throws; when a
// conversion cannot be made the bytes are written as they stand.
void WriteText(FILE* stream, const char* text, size_t size);
void WriteText(FILE* stream, const std::string& text);

// printf into WriteText. (MinGW's runtime formats as C99 does, %zu
// included: its archetype is gnu_printf.)
#if defined(__MINGW32__)
#define FIXPACK_PRINTF_FORMAT(at, first) __attribute__((format(gnu_printf, at, first)))
#elif defined(__GNUC__)
#define FIXPACK_PRINTF_FORMAT(at, first) __attribute__((format(printf, at, first)))
#else
#define FIXPACK_PRINTF_FORMAT(at, first)
#endif
void Say(FILE* stream, const char* format, ...) FIXPACK_PRINTF_FORMAT(2, 3);
