// Reads a compiled version resource (VS_VERSIONINFO) back, as found by
// FindResourceData in a .res file or a Windows executable, so that the
// tests can check the version and names a program shows in its properties.
// Portable, and hostile to its input like the dialog template's reader.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The fixed part (VS_FIXEDFILEINFO) and the strings of a version resource.
struct VersionResource {
  uint16_t fileVersion[4] = {};     // major, minor, patch, build
  uint16_t productVersion[4] = {};  // the same for the product
  uint32_t fileFlags = 0;
  uint32_t fileOs = 0;    // VOS_NT_WINDOWS32 is 0x40004
  uint32_t fileType = 0;  // VFT_APP is 1
  // StringFileInfo: string table key ("041104B0": language and code page in
  // hexadecimal) to its names and values.
  std::map<std::u16string, std::map<std::u16string, std::u16string>> strings;
  // VarFileInfo's Translation: language and code page pairs.
  std::vector<std::pair<uint16_t, uint16_t>> translations;
};

// Parses the data of a version resource. False when it is not one (no
// VS_VERSION_INFO root or no valid fixed part) or is damaged anywhere.
bool ParseVersionResource(const std::vector<uint8_t>& data, VersionResource* version);
