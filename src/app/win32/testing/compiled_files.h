// The built Windows programs the tests read back, named by the environment
// (FIX_WINDOWS_EXES, paths separated by ':'; scripts/test.sh names the
// four), and the whole of a file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The paths in FIX_WINDOWS_EXES; empty when it is not set.
std::vector<std::string> CompiledWindowsPrograms();

// The file's name without its folder.
std::string FileNameOf(const std::string& path);

// The file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
