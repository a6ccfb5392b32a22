// Whether the bytes of a name are code page 932 text, the code page in which
// the updater and Windows take every name of a package. A manifest saved in
// another encoding would put names into users' folders that no Japanese
// Windows shows as they were written.
#pragma once

#include <string>

// Null when `name` is code page 932 text: single bytes 0x00-0x7F and
// 0xA1-0xDF, and double-byte characters whose first byte opens a row of the
// code page (0x81-0x84, 0x87-0x9F, 0xE0-0xEA, 0xED-0xEE, 0xFA-0xFC and the
// user-defined 0xF0-0xF9) and whose second is 0x40-0x7E or 0x80-0xFC.
// Otherwise a short English reason. A name that is all the same UTF-8 text
// of three-byte characters (as Japanese is in UTF-8) is refused as UTF-8,
// though its bytes may happen to pair up as code page 932.
const char* CheckNameEncoding(const std::string& name);

// Which Unicode encoding the start of a text shows: "UTF-16" for a
// UTF-16 byte order mark or NUL bytes (a UTF-16 text without its mark),
// "UTF-8" for a UTF-8 byte order mark; null for none of them.
const char* UnicodeEncodingOf(const std::string& text);
