// The built Windows programs the tests read back, named by the environment
// (FIX_WINDOWS_EXES, paths separated by ':'; scripts/test.sh names the
// four); their bytes are read with test_support::ReadBytes.
#pragma once

#include <string>
#include <vector>

// The paths in the environment's `variable` (FIX_UPDATER_EXES names the
// updaters alone); empty when it is not set.
std::vector<std::string> CompiledWindowsPrograms(const char* variable = "FIX_WINDOWS_EXES");

// The file's name without its folder.
std::string FileNameOf(const std::string& path);
