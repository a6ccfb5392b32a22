// Whole files in and out, for the commands of fixpack. Paths are narrow
// strings as the command line gives them. Every error text begins with the
// path, so that it can be printed as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file into `bytes`. False, with "PATH: cause" in `error`,
// when it cannot be opened or read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Writes `size` bytes as the whole file, created or cut to length 0. False,
// with "PATH: cause", when any write or the close fails; a file that could
// not be written completely is removed.
bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
bool WriteFileText(const std::string& path, const std::string& text, std::string* error);

// Moves `from` to `to`, replacing what stands under `to`. False, with
// "TO: cause", when it cannot.
bool ReplaceFile(const std::string& from, const std::string& to, std::string* error);

// The folder part of a path (up to and including its last / or \), or ""
// for a bare name.
std::string FolderOf(const std::string& path);

// `name` taken relative to `folder` unless it is absolute (begins with a
// separator or a drive).
std::string ResolvePath(const std::string& folder, const std::string& name);
