// The file calls of the Win32 file layer over the applier's narrow paths
// (the system's ANSI code page), made through the system's wide calls. A
// path in the long form (\\?\ and a full path) reaches the file system
// whatever its length: the applier gives its own temporary files that form
// where their plain path would be too long (a folder of 248 characters holds
// joseki.dat, but not ~fix0123456789abcdef.new). Every other path is taken
// exactly as the narrow calls take it: converted with the ANSI code page and
// refused, as they refuse it, when it is MAX_PATH characters or longer, so
// that a name the products themselves could not open fails here too.
#pragma once

#include <windows.h>

#include <string>

// Each as its wide namesake, with the path converted; a path that cannot be
// converted or is too long fails with ERROR_FILENAME_EXCED_RANGE (or
// ERROR_INVALID_NAME) as last error.
DWORD AttributesAt(const char* path);
BOOL SetAttributesAt(const char* path, DWORD attributes);
HANDLE CreateFileAt(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
HANDLE FindFirstFileAt(const char* path, WIN32_FIND_DATAW* found);
BOOL MoveFileAt(const char* from, const char* to, DWORD flags);
BOOL DeleteFileAt(const char* path);
// CreateHardLinkW, looked up at run time (the Windows 9x family has none,
// and a program importing it would not even start there); FALSE with
// ERROR_CALL_NOT_IMPLEMENTED where it is missing.
BOOL CreateHardLinkAt(const char* second, const char* present);

// The long form of the path (\\?\C:\..., or \\?\UNC\server\share\... for a
// network path), of the full path the system makes of it, in the ANSI code
// page; empty when it cannot be made or has no narrow spelling.
std::string LongFormOf(const char* path);
