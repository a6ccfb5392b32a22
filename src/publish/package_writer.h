// Writes package scripts and update data files: entry heads, payloads and
// the envelope (u32 packedSize, u32 rawSize, the script packed by zlib).
// The same entries always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Null when `name` may stand in a package entry; otherwise a short English
// reason: it must be 1 to 254 bytes without a NUL, and the updater must
// accept it (relative, no drive or colon, no empty, . or .. component, no
// temporary suffix of an update).
const char* CheckPackageName(const std::string& name);

// Appends an entry's kind and its two names, each with its length byte
// (which counts the NUL) and its NUL. The names must pass CheckPackageName.
void AppendEntryHead(std::vector<uint8_t>* script, int32_t kind, const std::string& oldName,
                     const std::string& newName);

// Appends a KindFile entry that writes `content` under newName. False when
// the content is larger than the largest script the updater accepts.
bool AppendFileEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName,
                     const std::vector<uint8_t>& content);

// The whole update data file around the script. False when the script is
// larger than the updater accepts or cannot be packed. Packed on `threads`
// threads, the same bytes for any count.
bool MakeUpdateDataFile(const std::vector<uint8_t>& script, std::vector<uint8_t>* file, int32_t threads = 1);
