// The end-to-end driver: a console program run under the same Wine as the
// updater. It finds the update dialog by its caption, reads the message
// area and the buttons' states, presses buttons, works the Open dialog and
// holds files open, so that the scenario scripts can check what a user sees.
//
//   driver wait [--press ok|cancel] [--text T] [--ok 0|1] [--cancel 0|1] [--via T]
//               [--close-via 1] [--focus ok|cancel|none] [--steady MS] [--timeout MS]
//       Waits until the dialog shows text T (exactly; "{syserr:N}" inside T
//       stands for the system's text of error N) with the buttons as given.
//       --press: first presses that button, and watches from that moment.
//       --via: before that, a state with text T and both buttons disabled
//       must have been seen; with --close-via, the window is closed as its
//       close box does the moment that state is first seen. --focus: the
//       control that holds the keyboard focus. --steady: the state must
//       then hold for MS.
//   driver press ok|cancel          presses a button of the update dialog
//   driver close                    closes the update dialog as its close
//                                   box does (the system menu's Close)
//   driver where ok|cancel|close    prints the screen point of a button or
//                                   of the close box, for a real mouse click
//   driver picker [--filter T] [--pick PATH | --cancel] [--timeout MS]
//       Waits for the Open dialog, checks its filter text, then picks PATH
//       (typed into the file name box, then OK) or cancels.
//   driver gone [--none-but T] [--timeout MS]
//       Waits until the update dialog is gone; with --none-but, no text
//       other than T (or the empty one) may show meanwhile.
//   driver hold PATH SENTINEL       keeps PATH open without any sharing
//                                   while the file SENTINEL exists
//   driver scan PATH MS             reads PATH as a virus scanner does,
//                                   sharing reading and writing but not
//                                   deletion, and lets go MS after the
//                                   file got a second name (the updater
//                                   keeping it and waiting to replace it),
//                                   or after 20 s; prints the file's names
//                                   at that moment ("names 2")
//   driver break-dialog EXE         spoils the dialog template 102 in EXE
//   driver msgbox --caption C [--text T] [--press ok] [--timeout MS]
//       Waits for a message box with caption C, checks its text and, with
//       --press, presses its OK button.
//
// Every line printed is UTF-8; CR and LF inside texts are shown as \r \n.
// The first line is always "driver: started".
// Exit code 0 when the step held, 1 when it did not, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t UpdateCaption[] = L"盤燈アップデート";
constexpr int MessageId = 1012;
constexpr DWORD PollMs = 5;
constexpr UINT SendTimeoutMs = 2000;
const wchar_t NoAnswer[] = L"<no answer>";

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string Shown(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// Bytes straight to the standard output, untouched by any console code page.
void Print(const std::string& line) {
  std::string data = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

std::wstring SystemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring out = n != 0 && text != nullptr ? std::wstring(text) : std::wstring();
  if (text != nullptr) LocalFree(text);
  return out;
}

// Replaces every "{syserr:N}" by the system's text for error N.
std::wstring Expand(std::wstring text) {
  const std::wstring tag = L"{syserr:";
  for (size_t at; (at = text.find(tag)) != std::wstring::npos;) {
    size_t end = text.find(L'}', at);
    if (end == std::wstring::npos) break;
    DWORD code = wcstoul(text.substr(at + tag.size(), end - at - tag.size()).c_str(), nullptr, 10);
    text.replace(at, end + 1 - at, SystemText(code));
  }
  return text;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096];
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           SendTimeoutMs, &length))
    return NoAnswer;
  return std::wstring(buffer, length);
}

HWND FindUpdateDialog() {
  HWND dialog = FindWindowW(L"#32770", UpdateCaption);
  return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

struct DialogState {
  bool found = false;
  std::wstring text;
  bool ok = false;
  bool cancel = false;
  std::wstring focus;  // ok, cancel, message, other or none

  std::string Describe() const {
    if (!found) return "no dialog";
    return "text=\"" + Shown(text) + "\" ok=" + (ok ? "1" : "0") + " cancel=" + (cancel ? "1" : "0") +
           " focus=" + Utf8(focus);
  }
};

// The control of the update dialog that holds the keyboard focus of its
// thread.
std::wstring FocusOf(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return L"unknown";
  if (info.hwndFocus == nullptr) return L"none";
  if (info.hwndFocus == GetDlgItem(dialog, IDOK)) return L"ok";
  if (info.hwndFocus == GetDlgItem(dialog, IDCANCEL)) return L"cancel";
  if (info.hwndFocus == GetDlgItem(dialog, MessageId)) return L"message";
  return L"other";
}

DialogState ReadState() {
  DialogState state;
  HWND dialog = FindUpdateDialog();
  if (dialog == nullptr) return state;
  state.found = true;
  state.text = WindowText(GetDlgItem(dialog, MessageId));
  state.ok = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
  state.cancel = IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE;
  state.focus = FocusOf(dialog);
  return state;
}

// What the close box does: the system command Close, which the window turns
// into its close message.
int Close() {
  HWND dialog = FindUpdateDialog();
  if (dialog == nullptr) {
    Print("no dialog");
    return 1;
  }
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

// Options of the form --name value.
struct Options {
  std::vector<std::pair<std::wstring, std::wstring>> values;
  bool Has(const wchar_t* name) const {
    for (auto& v : values)
      if (v.first == name) return true;
    return false;
  }
  std::wstring Get(const wchar_t* name, const wchar_t* fallback = L"") const {
    for (auto& v : values)
      if (v.first == name) return v.second;
    return fallback;
  }
  DWORD Number(const wchar_t* name, DWORD fallback) const {
    return Has(name) ? wcstoul(Get(name).c_str(), nullptr, 10) : fallback;
  }
};

bool ParseOptions(int argc, wchar_t** argv, int first, Options* options) {
  for (int i = first; i < argc; ++i) {
    std::wstring name = argv[i];
    if (name.rfind(L"--", 0) != 0) return false;
    if (name == L"--cancel" && (i + 1 == argc || std::wstring(argv[i + 1]).rfind(L"--", 0) == 0)) {
      options->values.emplace_back(name, L"");  // the picker's --cancel takes no value
      continue;
    }
    if (i + 1 == argc) return false;
    options->values.emplace_back(name, argv[++i]);
  }
  return true;
}

struct Expectation {
  bool hasText = false, hasOk = false, hasCancel = false, hasFocus = false;
  std::wstring text, focus;
  bool ok = false, cancel = false;

  bool Matches(const DialogState& s) const {
    return s.found && (!hasText || s.text == text) && (!hasOk || s.ok == ok) &&
           (!hasCancel || s.cancel == cancel) && (!hasFocus || s.focus == focus);
  }
};

int Press(const std::wstring& which);

int Wait(const Options& options) {
  if (options.Has(L"--press")) {
    const int pressed = Press(options.Get(L"--press"));
    if (pressed != 0) return pressed;
  }
  Expectation want;
  want.hasText = options.Has(L"--text");
  want.text = Expand(options.Get(L"--text"));
  want.hasOk = options.Has(L"--ok");
  want.ok = options.Get(L"--ok") == L"1";
  want.hasCancel = options.Has(L"--cancel");
  want.cancel = options.Get(L"--cancel") == L"1";
  want.hasFocus = options.Has(L"--focus");
  want.focus = options.Get(L"--focus");
  const bool needVia = options.Has(L"--via");
  const bool closeVia = options.Has(L"--close-via");
  const std::wstring via = Expand(options.Get(L"--via"));
  const DWORD timeout = options.Number(L"--timeout", 20000);
  const DWORD steady = options.Number(L"--steady", 0);

  bool sawVia = false;
  DWORD viaFirst = 0, viaLast = 0;
  DialogState last;
  const DWORD start = GetTickCount();
  for (;;) {
    last = ReadState();
    if (needVia && last.found && last.text == via && !last.ok && !last.cancel) {
      if (!sawVia && closeVia && Close() != 0) return 1;
      if (!sawVia) viaFirst = GetTickCount();
      viaLast = GetTickCount();
      sawVia = true;
    }
    if (want.Matches(last) && (!needVia || sawVia)) break;
    if (GetTickCount() - start > timeout) {
      Print("timed out; last state: " + last.Describe() +
            (needVia && !sawVia ? "; the passing state was never seen" : ""));
      return 1;
    }
    Sleep(PollMs);
  }
  const DWORD held = GetTickCount();
  while (GetTickCount() - held < steady) {
    Sleep(PollMs * 4);
    DialogState now = ReadState();
    if (!want.Matches(now) || now.text != last.text || now.ok != last.ok || now.cancel != last.cancel ||
        now.focus != last.focus) {
      Print("changed from " + last.Describe() + " to " + now.Describe());
      return 1;
    }
  }
  Print(last.Describe() +
        (needVia ? "; passed through the state before for about " + std::to_string(viaLast - viaFirst) + " ms"
                 : ""));
  return 0;
}

int Press(const std::wstring& which) {
  HWND dialog = FindUpdateDialog();
  if (dialog == nullptr) {
    Print("no dialog");
    return 1;
  }
  HWND button = GetDlgItem(dialog, which == L"ok" ? IDOK : IDCANCEL);
  if (!IsWindowEnabled(button)) {
    Print("the button is disabled");
    return 1;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &result);
  return 0;
}

int Where(const std::wstring& which) {
  HWND dialog = FindUpdateDialog();
  if (dialog == nullptr) {
    Print("no dialog");
    return 1;
  }
  RECT r;
  if (which == L"close") {
    // The close box is the rightmost caption button, inside the dialog frame.
    GetWindowRect(dialog, &r);
    const int frameX = GetSystemMetrics(SM_CXDLGFRAME), frameY = GetSystemMetrics(SM_CYDLGFRAME);
    const int size = GetSystemMetrics(SM_CYSIZE);
    char line[64];
    snprintf(line, sizeof line, "%ld %ld", r.right - frameX - size / 2 - 1, r.top + frameY + size / 2);
    Print(line);
    return 0;
  }
  GetWindowRect(GetDlgItem(dialog, which == L"ok" ? IDOK : IDCANCEL), &r);
  char line[64];
  snprintf(line, sizeof line, "%ld %ld", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  Print(line);
  return 0;
}

struct PickerSearch {
  DWORD process;
  HWND update;
  HWND found;
};

BOOL CALLBACK FindPickerWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<PickerSearch*>(data);
  wchar_t name[64];
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (window != search->update && process == search->process && IsWindowVisible(window) &&
      GetClassNameW(window, name, 64) && wcscmp(name, L"#32770") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The Open dialog: a visible dialog of the updater's process other than the
// update dialog.
HWND FindPicker() {
  PickerSearch search = {0, FindUpdateDialog(), nullptr};
  if (search.update == nullptr) return nullptr;
  GetWindowThreadProcessId(search.update, &search.process);
  EnumWindows(FindPickerWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Picker(const Options& options) {
  const DWORD timeout = options.Number(L"--timeout", 20000);
  const DWORD start = GetTickCount();
  // The dialog shows before it has filled its controls: it is ready once
  // the file type box (cmb1) answers with the filter's description.
  HWND picker = nullptr;
  std::wstring filter;
  for (;;) {
    picker = FindPicker();
    if (picker != nullptr) {
      filter = WindowText(GetDlgItem(picker, 0x470));
      if (!filter.empty() && filter != NoAnswer) break;
    }
    if (GetTickCount() - start > timeout) {
      Print("no Open dialog; update dialog: " + ReadState().Describe());
      return 1;
    }
    Sleep(PollMs * 4);
  }
  Print("picker caption=\"" + Shown(WindowText(picker)) + "\" filter=\"" + Shown(filter) + "\"");
  if (options.Has(L"--filter") && filter != options.Get(L"--filter")) {
    Print("unexpected filter");
    return 1;
  }
  DWORD_PTR result = 0;
  if (options.Has(L"--pick")) {
    // The file name box: cmb13, or edt1 in older templates.
    HWND name = GetDlgItem(picker, 0x47C);
    if (name == nullptr) name = GetDlgItem(picker, 0x480);
    const std::wstring path = options.Get(L"--pick");
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG,
                        SendTimeoutMs, &result);
    SendMessageTimeoutW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &result);
  } else if (options.Has(L"--cancel")) {
    SendMessageTimeoutW(GetDlgItem(picker, IDCANCEL), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs,
                        &result);
  }
  return 0;
}

int Gone(const Options& options) {
  const DWORD timeout = options.Number(L"--timeout", 20000);
  const bool strict = options.Has(L"--none-but");
  const std::wstring allowed = Expand(options.Get(L"--none-but"));
  const DWORD start = GetTickCount();
  for (;;) {
    DialogState state = ReadState();
    if (!state.found) return 0;
    if (strict && !state.text.empty() && state.text != allowed && state.text != NoAnswer) {
      Print("another text was shown: " + state.Describe());
      return 1;
    }
    if (GetTickCount() - start > timeout) {
      Print("still there: " + state.Describe());
      return 1;
    }
    Sleep(PollMs);
  }
}

int Hold(const wchar_t* path, const wchar_t* sentinel) {
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Print("cannot open " + Utf8(path) + ": error " + std::to_string(GetLastError()));
    return 1;
  }
  Print("held");
  while (GetFileAttributesW(sentinel) != INVALID_FILE_ATTRIBUTES) Sleep(20);
  CloseHandle(file);
  return 0;
}

int Scan(const wchar_t* path, const wchar_t* ms) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Print("cannot open " + Utf8(path) + ": error " + std::to_string(GetLastError()));
    return 1;
  }
  Print("held");
  const DWORD start = GetTickCount();
  DWORD linked = 0;  // when the second name came, 0 while it has not
  BY_HANDLE_FILE_INFORMATION information = {};
  for (;;) {
    if (!GetFileInformationByHandle(file, &information)) break;
    const DWORD now = GetTickCount();
    if (linked == 0 && information.nNumberOfLinks > 1) linked = now == 0 ? 1 : now;
    if (linked != 0 && now - linked >= static_cast<DWORD>(_wtoi(ms))) break;
    if (now - start > 20000) break;
    Sleep(10);
  }
  Print("names " + std::to_string(information.nNumberOfLinks));
  CloseHandle(file);
  return 0;
}

// Replaces the update dialog's template in a copy of the program by one
// whose only control has a class that no one registered, so that the
// dialog cannot be made.
int BreakDialog(const wchar_t* exe) {
  std::vector<WORD> t;
  auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  auto text = [&t](const wchar_t* s) {
    for (; *s; ++s) t.push_back(*s);
    t.push_back(0);
  };
  dword(WS_POPUP | WS_CAPTION);
  dword(0);
  t.insert(t.end(), {1, 0, 0, 100, 50, 0, 0});  // one control; x, y, cx, cy; no menu, class
  text(L"broken");
  if (t.size() % 2) t.push_back(0);  // the control starts on a DWORD boundary
  dword(WS_CHILD | WS_VISIBLE);
  dword(0);
  t.insert(t.end(), {0, 0, 50, 14, 1});
  text(L"NoSuchClass");
  t.insert(t.end(), {0, 0});  // no title, no creation data
  HANDLE update = BeginUpdateResourceW(exe, FALSE);
  if (update == nullptr ||
      !UpdateResourceW(update, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(102),
                       MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), t.data(),
                       static_cast<DWORD>(t.size() * sizeof(WORD))) ||
      !EndUpdateResourceW(update, FALSE)) {
    Print("cannot replace the dialog template: error " + std::to_string(GetLastError()));
    return 1;
  }
  return 0;
}

BOOL CALLBACK FindStaticText(HWND window, LPARAM data) {
  wchar_t name[64];
  if (GetClassNameW(window, name, 64) && _wcsicmp(name, L"Static") == 0) {
    std::wstring text = WindowText(window);
    if (!text.empty()) {
      *reinterpret_cast<std::wstring*>(data) = text;
      return FALSE;
    }
  }
  return TRUE;
}

int MessageBoxStep(const Options& options) {
  const std::wstring caption = options.Get(L"--caption");
  const DWORD timeout = options.Number(L"--timeout", 20000);
  const DWORD start = GetTickCount();
  HWND box = nullptr;
  std::wstring text;
  for (;;) {
    box = FindWindowW(L"#32770", caption.c_str());
    if (box != nullptr && IsWindowVisible(box)) {
      text.clear();
      EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
      if (!text.empty()) break;
    }
    if (GetTickCount() - start > timeout) {
      Print("no message box \"" + Utf8(caption) + "\"");
      return 1;
    }
    Sleep(PollMs * 4);
  }
  Print("message box caption=\"" + Utf8(caption) + "\" text=\"" + Shown(text) + "\"");
  if (options.Has(L"--text") && text != options.Get(L"--text")) {
    Print("unexpected text");
    return 1;
  }
  if (options.Has(L"--press")) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &result);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The first line of every run: the scripts tell a step that ran from a
  // start that Wine could not make.
  Print("driver: started");
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  Options options;
  if (command == L"press" && argc == 3) return Press(argv[2]);
  if (command == L"close" && argc == 2) return Close();
  if (command == L"where" && argc == 3) return Where(argv[2]);
  if (command == L"hold" && argc == 4) return Hold(argv[2], argv[3]);
  if (command == L"scan" && argc == 4) return Scan(argv[2], argv[3]);
  if (command == L"break-dialog" && argc == 3) return BreakDialog(argv[2]);
  if (!ParseOptions(argc, argv, 2, &options)) return 2;
  if (command == L"wait") return Wait(options);
  if (command == L"picker") return Picker(options);
  if (command == L"gone") return Gone(options);
  if (command == L"msgbox") return MessageBoxStep(options);
  return 2;
}
