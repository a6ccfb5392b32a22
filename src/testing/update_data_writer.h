// Writes small update data files for the flow's tests: package scripts of
// whole-file entries (and book entries with an empty diff), packed with zlib
// into the update data file's envelope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Appends a KindFile entry that keeps the present `newName` as `oldName` and
// writes `content` as the new `newName`.
void AppendFileEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName,
                     const std::string& content);

// Appends a KindBook entry whose diff list is empty (its terminator only).
void AppendBookEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName);

// Writes the update data file at the native `path`: u32 packedSize, u32
// rawSize, then the script packed by zlib's compress. True when written.
bool WriteUpdateDataFile(const std::string& path, const std::vector<uint8_t>& script);
