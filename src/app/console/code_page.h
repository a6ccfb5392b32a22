// Conversion between the system's texts (code page 932, as the update flow
// holds them) and the terminal's encoding (the locale's character set).
#pragma once

#include <string>

// Opens the converters for the locale in force (call setlocale first).
// False when code page 932 is not known to the C library.
bool OpenCodePages();

// The code page 932 text in the terminal's encoding. Bytes that do not
// convert come out as '?'; "\r\n" becomes "\n".
std::string ToTerminal(const std::string& systemText);

// The terminal's (or file system's) text in code page 932. False when some
// character has no code page 932 form.
bool ToSystem(const std::string& terminalText, std::string* systemText);
