// Where the updater lets the system look for the DLLs it loads while it runs
// (the Open dialog alone loads dozens). Users start it where they unpacked
// it, often beside files anyone could have put there, and by the system's
// default order the program's own folder is searched first: a DLL planted
// there would run with the updater's rights, an administrator's once the
// manifest has asked for them. So the program's first act is to keep every
// load to the system folder.
#pragma once

#include <cstdint>

// LOAD_LIBRARY_SEARCH_SYSTEM32: the system folder alone.
constexpr uint32_t DllSearchSystemFolder = 0x00000800;

// The two system calls, as the system offers them; either may be null where
// the system lacks it (SetDefaultDllDirectories came with Windows 7's
// KB2533623, SetDllDirectoryA with XP SP1), and is then not called.
struct DllSearchCalls {
  // SetDefaultDllDirectories(flags): nonzero when done.
  int32_t (*setDefaultDirectories)(uint32_t flags);
  // SetDllDirectoryA(path): with "" the current folder leaves the search
  // order (null would bring the default order back); nonzero when done.
  int32_t (*setDllDirectory)(const char* path);
};

// Limits every later DLL load of the process to the system folder where the
// system can, and takes the current folder out of the search order in any
// case. True when the loads are limited to the system folder.
bool LimitDllSearch(const DllSearchCalls& calls);
