// Backslash handling in narrow paths of code page 932 (Shift-JIS). The byte
// 0x5C is also the second byte of many double-byte characters (ソ, 表, 能...),
// so a path is walked character by character to tell a real separator from
// the inside of such a character.
#pragma once

#include <cstddef>

// True for the bytes that begin a double-byte character: 0x81-0x9F, 0xE0-0xFC.
bool IsCp932LeadByte(unsigned char byte);

// A test of the bytes that begin a double-byte character in a code page.
using LeadByteTest = bool (*)(unsigned char byte);

// The last real backslash of the NUL-terminated path, or null when none.
// `isLead` tells the code page the path is in: code page 932 unless told,
// the system's own where the path came from the system.
const char* FindLastBackslash(const char* path, LeadByteTest isLead = IsCp932LeadByte);
char* FindLastBackslash(char* path, LeadByteTest isLead = IsCp932LeadByte);

// True when the path's last character is a real backslash.
bool EndsInBackslash(const char* path);
