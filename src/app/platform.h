// The platform seam of the update flow: every system call that the run, the
// prompt and the install lookup make, one operation for one call. The flow
// is written once against these declarations; each program links exactly one
// implementation (the Win32 one for the product, the console one for the
// native stand-in, the scripted fake in the unit tests).
//
// Texts and paths are narrow strings in code page 932, NUL-terminated, with
// "\r\n" line breaks and the backslash as the folder separator, as the flow
// sees them on Windows. Every operation may be called from the worker
// thread; PlatformSignal and the prompt lock are also used by the
// user-interface thread.
#pragma once

#include <cstdint>

// Opaque handles of the platform: the module instance and the dialog window
// (an HINSTANCE and an HWND on Win32).
using PlatformInstance = void*;
using PlatformWindow = void*;
// A manual-reset wait object (an event on Win32).
struct WaitObject;
// The file operations with which a package is applied (package_files.h).
class PackageFiles;
// An open registry key.
struct RegistryKey;

// --- the dialog (each takes effect on the user-interface thread before it
// --- returns, except the repaint, which only marks the dialog for painting)

// Sets the text of the dialog's control `id` (SetWindowTextA on GetDlgItem).
void PlatformSetItemText(PlatformWindow dialog, int32_t id, const char* text);
// Enables or disables the dialog's control `id` (EnableWindow on GetDlgItem).
void PlatformEnableItem(PlatformWindow dialog, int32_t id, bool enable);
// Marks the whole dialog for repainting without erasing its background
// (InvalidateRect).
void PlatformRepaint(PlatformWindow dialog);
// Asks the user-interface thread to end the program: the dialog gets its
// destroy message and the message loop ends (PostMessageA of WM_DESTROY).
void PlatformPostDestroy(PlatformWindow dialog);

// --- wait objects and the prompt lock

// A new wait object, not signalled, that stays signalled once set (manual
// reset), or null when none can be made (CreateEventA). The caller releases
// it with PlatformCloseWaitObject.
WaitObject* PlatformCreateWaitObject();
// Blocks the calling thread until `object` is signalled (WaitForSingleObject,
// no time limit).
void PlatformWait(WaitObject* object);
// Signals `object` (SetEvent).
void PlatformSignal(WaitObject* object);
// Releases `object` (CloseHandle); it must not be used afterwards.
void PlatformCloseWaitObject(WaitObject* object);
// The one process-wide lock that keeps the user-interface thread from
// signalling a wait object that the worker is releasing (a critical
// section). Usable from program start; not recursive.
void PlatformLockPrompt();
void PlatformUnlockPrompt();

// --- files and the system

// Writes the full path of the module's executable into `path` (`size`
// bytes) and returns the number of bytes written without the terminator; 0
// on failure (GetModuleFileNameA). A result equal to `size` means the path
// was cut short (and may lack its terminator).
uint32_t PlatformGetModuleFileName(PlatformInstance instance, char* path, uint32_t size);
// True when `path` names a file that can be opened for reading while others
// read it too (CreateFileA with GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
// closed at once).
bool PlatformFileExists(const char* path);
// The platform family id (GetVersionExA): 1 for the Windows 9x family, 2 for
// the NT family; 0 when it cannot be told.
int32_t PlatformGetPlatformId();

// True when `byte` begins a double-byte character in the system's ANSI code
// page, the one narrow paths are in (IsDBCSLeadByte): 0x81-0x9F and
// 0xE0-0xFC on a Japanese system, none on a Western one.
bool PlatformIsLeadByte(unsigned char byte);

// --- the registry (HKEY_LOCAL_MACHINE, read only)

// Which view of a 64-bit system's registry a key is opened in.
enum RegistryView : int32_t {
  RegistryViewOwn = 0,  // the program's own (KEY_READ)
  RegistryView32 = 1,   // the one of 32-bit programs (KEY_READ | KEY_WOW64_32KEY)
};

// Opens `subKey` under HKEY_LOCAL_MACHINE for reading in `view`
// (RegOpenKeyExA). 0 and the key in *key, or a system error code.
int32_t PlatformRegOpenKey(const char* subKey, RegistryView view, RegistryKey** key);
// Queries the value `name` of `key` (RegQueryValueExA): with `data` null,
// only its size in bytes goes to *size; otherwise up to *size bytes of its
// stored data are written to `data` and *size becomes the number written.
// 0, or a system error code (234 ERROR_MORE_DATA when `data` is too small).
int32_t PlatformRegQueryValue(RegistryKey* key, const char* name, char* data, uint32_t* size);
// Closes `key` (RegCloseKey).
void PlatformRegCloseKey(RegistryKey* key);

// --- system texts and the Open dialog

// The system's text for the error `code` in the user's language, or null
// when there is none (FormatMessageA, allocating). Released with
// PlatformFreeMessage.
char* PlatformFormatMessage(int32_t code);
void PlatformFreeMessage(char* text);

// Lets the user pick an existing file (GetOpenFileNameA: no owner, the
// filter list `filter` of description/pattern pairs ending in an empty
// string, no title, the file and its folder required to exist). `file`
// (`size` bytes) holds the initial name and receives the picked full path.
// True when a file was picked, false when the user cancelled or the dialog
// failed.
bool PlatformGetOpenFileName(const char* filter, char* file, uint32_t size);

// --- applying packages

// The file operations with which packages are applied to install folders:
// the package step's own over the C runtime, or, where the platform has
// them, its renames (MoveFileA; MoveFileExA replacing) and hard links.
// Lives as long as the program.
PackageFiles* PlatformPackageFiles();
