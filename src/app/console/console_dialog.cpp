#include "app/console/console_dialog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "app/console/code_page.h"
#include "app/update_dialog.h"

namespace {

// The dialog's own words (code page 932, like every text of the system).
const char Caption[] = "盤燈アップデート";
const char OkLabel[] = "OK";
const char CancelLabel[] = "ｷｬﾝｾﾙ";
const char KeysHelp[] = "Enter: OK　　Esc / c: ｷｬﾝｾﾙ";
const char InputEndedNote[] = "（入力が終わりました）";
const char OpenTitle[] = "ファイルを開く";
const char FileTypeLabel[] = "ファイルの種類: ";
const char FileNameLabel[] = "ファイル名: ";
const char OpenKeysHelp[] = "Enter: 開く　　Esc: ｷｬﾝｾﾙ";
const char NoSuchFile[] = "ファイルが見つかりません。ファイル名を確認してください。";
const char NotRepresentable[] = "このファイル名はシステムの文字で表せません。";

void WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

std::string Button(const char* label, bool enabled, bool tty) {
  const std::string face = "[ " + ToTerminal(label) + " ]";
  if (!tty) return enabled ? face : "(" + ToTerminal(label) + ")";
  return enabled ? "\x1b[7m" + face + "\x1b[0m" : "\x1b[2m" + face + "\x1b[0m";
}

// Waits up to `milliseconds` for more input; true when some is there.
bool InputFollows(int milliseconds) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return poll(&input, 1, milliseconds) > 0;
}

// The full native path of an existing regular file, or "" when `typed`
// names none.
std::string ExistingFile(const std::string& typed) {
  std::string path = typed;
  const char* home = getenv("HOME");
  if (path.size() > 1 && path[0] == '~' && path[1] == '/' && home != nullptr) {
    path = std::string(home) + path.substr(1);
  }
  char resolved[PATH_MAX];
  struct stat status {};
  if (realpath(path.c_str(), resolved) == nullptr) return "";
  if (stat(resolved, &status) != 0 || !S_ISREG(status.st_mode)) return "";
  return resolved;
}

}  // namespace

ConsoleDialog& ConsoleDialog::Get() {
  static ConsoleDialog dialog;
  return dialog;
}

bool ConsoleDialog::Open() {
  int ends[2];
  if (pipe(ends) != 0) return false;
  wakeRead = ends[0];
  wakeWrite = ends[1];
  fcntl(wakeRead, F_SETFL, O_NONBLOCK);
  fcntl(wakeWrite, F_SETFL, O_NONBLOCK);
  tty = isatty(STDOUT_FILENO) != 0;
  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
    // Keys arrive one by one and are not echoed; Ctrl-C and Ctrl-D arrive as
    // keys too, since the window decides what a close means.
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    rawKeys = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  std::lock_guard<std::mutex> guard(lock);
  Draw();
  return true;
}

void ConsoleDialog::Close() {
  if (rawKeys) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  rawKeys = false;
  if (tty) WriteAll("\n");
}

void ConsoleDialog::Draw(bool frame) {
  std::string screen;
  screen += " " + ToTerminal(Caption) + "\n";
  screen += " " + ToTerminal("────────────────────────────────") + "\n";
  std::string message = ToTerminal(text);
  for (size_t start = 0; start <= message.size();) {
    const size_t end = message.find('\n', start);
    screen += " " + message.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  screen += "\n " + Button(OkLabel, okEnabled, tty) + "  " + Button(CancelLabel, cancelEnabled, tty) + "\n";
  if (tty) screen += " " + ToTerminal(KeysHelp) + "\n";
  if (inputEnded) screen += " " + ToTerminal(InputEndedNote) + "\n";
  if (picking) {
    screen += "\n " + ToTerminal("── ") + ToTerminal(OpenTitle) + ToTerminal(" ──") + "\n";
    screen += " " + ToTerminal(FileTypeLabel) + ToTerminal(pickDescription) + " (" + ToTerminal(pickPattern) +
              ")\n";
    if (!pickNote.empty()) screen += " " + ToTerminal(pickNote) + "\n";
    if (tty) screen += " " + ToTerminal(OpenKeysHelp) + "\n";
    screen += " " + ToTerminal(FileNameLabel) + pickLine;
    if (!tty) screen += "\n";
  }
  if (tty) {
    WriteAll("\x1b[H\x1b[2J" + screen);
    return;
  }
  if (!frame || screen == lastDrawn || (text.empty() && !picking)) return;
  lastDrawn = screen;
  WriteAll(screen + "\n");
}

void ConsoleDialog::Wake() {
  const char byte = 1;
  if (write(wakeWrite, &byte, 1) < 0) {
    // A full pipe already holds a wake-up.
  }
}

void ConsoleDialog::SetText(const std::string& newText) {
  std::lock_guard<std::mutex> guard(lock);
  text = newText;
  Draw();
}

void ConsoleDialog::Enable(int32_t id, bool enable) {
  std::lock_guard<std::mutex> guard(lock);
  if (id == IDOK) okEnabled = enable;
  if (id == IDCANCEL) cancelEnabled = enable;
  Draw();
}

void ConsoleDialog::Repaint() {
  std::lock_guard<std::mutex> guard(lock);
  Draw(true);
}

void ConsoleDialog::PostDestroy() {
  std::lock_guard<std::mutex> guard(lock);
  destroyed = true;
  Wake();
}

void ConsoleDialog::WaitBegins() {
  std::lock_guard<std::mutex> guard(lock);
  waiting = true;
  ++waitSerial;
  Wake();
}

void ConsoleDialog::WaitEnds() {
  std::lock_guard<std::mutex> guard(lock);
  waiting = false;
}

bool ConsoleDialog::Pick(const std::string& description, const std::string& pattern, std::string* path) {
  std::unique_lock<std::mutex> guard(lock);
  if (inputEnded) return false;
  picking = true;
  pickDone = pickOk = false;
  pickDescription = description;
  pickPattern = pattern;
  pickLine.clear();
  pickNote.clear();
  Draw(true);
  Wake();
  picked.wait(guard, [&] { return pickDone; });
  picking = false;
  Draw();
  if (pickOk) *path = pickResult;
  return pickOk;
}

void ConsoleDialog::Beep() { WriteAll("\a"); }

void ConsoleDialog::Press(int32_t id) {
  bool enabled;
  {
    std::lock_guard<std::mutex> guard(lock);
    enabled = id == IDOK ? okEnabled : cancelEnabled;
  }
  // A disabled button takes no press.
  if (enabled) {
    UpdateDialogCommand(0, id);
  } else {
    Beep();
  }
}

void ConsoleDialog::CloseWindow() {
  bool cancel;
  {
    std::lock_guard<std::mutex> guard(lock);
    cancel = cancelEnabled;
  }
  if (!CloseUpdateDialog(cancel)) Beep();
}

void ConsoleDialog::EndOfInput() {
  {
    std::lock_guard<std::mutex> guard(lock);
    inputEnded = true;
    if (picking) {
      pickDone = true;
      pickOk = false;
      picked.notify_all();
    }
    Draw();
  }
  CloseWindow();
}

void ConsoleDialog::AnswerForAbsentUser() {
  int32_t answer = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!inputEnded || !waiting || picking || answeredSerial == waitSerial) return;
    answeredSerial = waitSerial;
    answer = cancelEnabled ? IDCANCEL : okEnabled ? IDOK : 0;
  }
  if (answer == IDCANCEL) CloseUpdateDialog(true);
  if (answer == IDOK) UpdateDialogCommand(0, IDOK);
}

void ConsoleDialog::HandleKey(unsigned char key, bool lone) {
  switch (key) {
    case '\r':
    case '\n':
      Press(IDOK);
      break;
    case 'c':
    case 'C':
      Press(IDCANCEL);
      break;
    case 0x1B:
      if (lone) Press(IDCANCEL);
      break;
    case 0x03:  // Ctrl-C: the close box
      CloseWindow();
      break;
    case 0x04:  // Ctrl-D: the end of the input
      EndOfInput();
      break;
    default:
      break;
  }
}

void ConsoleDialog::HandlePickerKey(unsigned char key, bool lone) {
  std::lock_guard<std::mutex> guard(lock);
  auto finish = [&](bool ok) {
    pickDone = true;
    pickOk = ok;
    picked.notify_all();
  };
  if (key == '\r' || key == '\n') {
    if (pickLine.empty()) return;
    const std::string path = ExistingFile(pickLine);
    if (path.empty()) {
      pickNote = NoSuchFile;
      Draw(true);
      return;
    }
    std::string system;
    if (!ToSystem(path, &system)) {
      pickNote = NotRepresentable;
      Draw(true);
      return;
    }
    pickResult = path;
    finish(true);
  } else if ((key == 0x1B && lone) || key == 0x03) {
    finish(false);
  } else if (key == 0x04) {
    inputEnded = true;
    finish(false);
  } else if (key == 0x7F || key == 0x08) {
    // One character back, however many bytes it took.
    while (!pickLine.empty() && (static_cast<unsigned char>(pickLine.back()) & 0xC0) == 0x80) {
      pickLine.pop_back();
    }
    if (!pickLine.empty()) pickLine.pop_back();
    Draw();
  } else if (key == 0x15) {  // Ctrl-U
    pickLine.clear();
    Draw();
  } else if (key >= 0x20 && key != 0x7F) {
    pickLine += static_cast<char>(key);
    if (tty) Draw();
  }
}

void ConsoleDialog::HandleInput(std::string input) {
  for (size_t i = 0; i < input.size(); ++i) {
    const unsigned char key = static_cast<unsigned char>(input[i]);
    bool lone = true;
    if (key == 0x1B) {
      // An escape sequence (an arrow key, say) is not the Esc key.
      if (i + 1 == input.size() && InputFollows(30)) {
        char more[64];
        const ssize_t got = read(STDIN_FILENO, more, sizeof more);
        if (got > 0) input.append(more, static_cast<size_t>(got));
      }
      if (i + 1 < input.size()) {
        lone = false;
        ++i;
        if (input[i] == '[' || input[i] == 'O') {
          while (i + 1 < input.size() && !(input[i + 1] >= 0x40 && input[i + 1] <= 0x7E)) ++i;
          ++i;
        }
      }
    }
    bool inPicker;
    {
      std::lock_guard<std::mutex> guard(lock);
      inPicker = picking;
    }
    if (inPicker) {
      HandlePickerKey(key, lone);
    } else {
      HandleKey(key, lone);
    }
  }
}

void ConsoleDialog::RunLoop() {
  for (;;) {
    bool ended;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (destroyed) return;
      ended = inputEnded;
    }
    AnswerForAbsentUser();
    pollfd sources[2] = {{wakeRead, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(sources, ended ? 1 : 2, -1) < 0) continue;  // interrupted
    if (sources[0].revents != 0) {
      char drain[64];
      while (read(wakeRead, drain, sizeof drain) > 0) {
      }
    }
    if (!ended && sources[1].revents != 0) {
      char bytes[256];
      const ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        EndOfInput();
      } else {
        HandleInput(std::string(bytes, static_cast<size_t>(got)));
      }
    }
  }
}
