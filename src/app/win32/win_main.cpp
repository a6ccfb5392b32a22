// The updater's start on Windows: the modeless dialog, the worker thread and
// the message loop of the user-interface thread.
#include <windows.h>
#include <process.h>

#include "app/dll_search.h"
#include "app/update_dialog.h"
#include "app/update_run.h"
#include "app/update_texts.h"

namespace {

// Both are looked up rather than imported, so that a system without them
// (SetDefaultDllDirectories needs Windows 7 with KB2533623) still starts the
// program; kernel32 itself is always loaded, from the system folder.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
SetDefaultDllDirectoriesFunction setDefaultDllDirectories = nullptr;
SetDllDirectoryFunction setDllDirectory = nullptr;

int32_t CallSetDefaultDllDirectories(uint32_t flags) { return setDefaultDllDirectories(flags) ? 1 : 0; }
int32_t CallSetDllDirectory(const char* path) { return setDllDirectory(path) ? 1 : 0; }

void LimitDllLoads() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel != nullptr) {
    setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    setDllDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  }
  const DllSearchCalls calls = {setDefaultDllDirectories != nullptr ? CallSetDefaultDllDirectories : nullptr,
                                setDllDirectory != nullptr ? CallSetDllDirectory : nullptr};
  LimitDllSearch(calls);
}

// The runtime's own thread start prepares its per-thread state, which the
// worker needs for stdio and sprintf; its matching end releases it.
void __cdecl WorkerEntry(void* argument) {
  UpdateWorker(argument);
  _endthread();
}

}  // namespace

// The dialog procedure: the destroy that the worker posts ends the message
// loop; button commands go to the prompt protocol. A close of the window
// (the close box, Close in the system menu) is Cancel while the Cancel
// button is enabled and is refused with a beep otherwise. Windows' dialog
// manager does exactly that by itself, but Wine's turns every close into
// Cancel, which would answer an acknowledgement or a running update; so the
// procedure decides it here, the same way on both. Everything else is left
// to the dialog manager.
INT_PTR CALLBACK UpdateDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    case WM_COMMAND:
      return UpdateDialogCommand(HIWORD(wParam), LOWORD(wParam)) ? TRUE : FALSE;
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(window, IDCANCEL);
      if (cancel != nullptr && IsWindowEnabled(cancel))
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      else MessageBeep(0);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // Before anything can load a DLL (the dialog, the Open dialog, the
  // common controls): from here on only the system folder is searched.
  LimitDllLoads();
  AppInstance = instance;
  HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
  DialogWindow = dialog;
  if (dialog == nullptr) {
    // A dialog that was made and then torn down (a control that could not
    // be created) has had its destroy message, and with it our quit
    // message, which would end the message box's own loop at once.
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    MessageBoxA(nullptr, WindowCreateFailedText, FatalErrorCaption, MB_OK | MB_ICONEXCLAMATION);
    return -1;
  }
  ShowWindow(dialog, SW_SHOWNORMAL);
  LastChoice = 0;

  // Without the worker nothing could ever end the dialog, so a failed start
  // ends the program with a message instead. The dialog is hidden, not
  // destroyed: its destroy would post the quit message that ends the
  // message box's own loop at once.
  if (_beginthread(WorkerEntry, 0, nullptr) == static_cast<uintptr_t>(-1)) {
    ShowWindow(dialog, SW_HIDE);
    MessageBoxA(nullptr, WorkerStartFailedText, FatalErrorCaption, MB_OK | MB_ICONEXCLAMATION);
    return -1;
  }

  // No IsDialogMessage: Tab, Enter and Esc keep no dialog meaning, so a key
  // press can never answer a prompt by accident. GetMessageA's -1 (a failed
  // call) ends the loop rather than dispatching an unfilled message.
  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
