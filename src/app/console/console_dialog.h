// The update dialog of the native stand-in, on a terminal: the message area
// (its code page 932 text shown in the terminal's encoding), the OK and
// Cancel buttons with their state, and the keys Enter (OK), Esc or c
// (Cancel), Ctrl-C (a close of the window) and Ctrl-D or the end of the
// input (the input is gone). It also plays the Open dialog, which asks for
// a path.
//
// The user-interface thread runs RunLoop; the worker calls the other
// operations. Every change is drawn at once, under the dialog's lock.
//
// Once the input has ended no press can come any more, so the dialog
// answers for the absent user: each waiting question is closed (which is
// Cancel), each waiting message gets OK and the Open dialog is cancelled.
// The run therefore ends, and nothing is updated without a question
// answered by a real press.
#pragma once

#include <termios.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

class ConsoleDialog {
 public:
  static ConsoleDialog& Get();

  // Prepares the terminal (raw keys when the input is a terminal) and draws
  // the dialog. False when it cannot be made.
  bool Open();
  // Gives the terminal back as it was.
  void Close();
  // The user-interface thread: reads keys and carries out presses until the
  // worker asks for the end (PostDestroy).
  void RunLoop();

  // Worker side.
  void SetText(const std::string& text);
  void Enable(int32_t id, bool enable);
  void Repaint();
  void PostDestroy();
  // Called around a prompt's wait, so that the dialog can answer for an
  // absent user.
  void WaitBegins();
  void WaitEnds();
  // The Open dialog: asks for the path of an existing file. True and its
  // full native path in *path, or false when cancelled.
  bool Pick(const std::string& description, const std::string& pattern, std::string* path);

 private:
  ConsoleDialog() = default;
  // Draws the dialog, with the lock held. On a terminal every change is
  // drawn; into a transcript only the frames the flow repaints (and the
  // Open dialog's), one block each.
  void Draw(bool frame = false);
  void Wake();  // rouses the user-interface thread
  void HandleInput(std::string input);
  void HandleKey(unsigned char key, bool lone);
  void HandlePickerKey(unsigned char key, bool lone);
  void EndOfInput();
  void AnswerForAbsentUser();  // without the lock
  void Press(int32_t id);      // without the lock
  void CloseWindow();          // without the lock
  void Beep();

  std::mutex lock;
  std::condition_variable picked;
  bool tty = false;         // drawing on a terminal, full-screen
  bool rawKeys = false;     // the input terminal is in raw mode
  struct termios saved {};  // the input terminal as it was
  int wakeRead = -1, wakeWrite = -1;

  std::string text;  // the message area, code page 932
  bool okEnabled = true;
  bool cancelEnabled = true;
  bool destroyed = false;
  bool inputEnded = false;
  int32_t waitSerial = 0;      // count of waits begun
  int32_t answeredSerial = 0;  // the last wait answered for an absent user
  bool waiting = false;

  bool picking = false;  // the Open dialog is shown
  bool pickDone = false;
  bool pickOk = false;
  std::string pickDescription, pickPattern;  // code page 932
  std::string pickLine;                      // typed so far, terminal encoding
  std::string pickNote;                      // why the last path was refused, code page 932
  std::string pickResult;                    // native path

  std::string lastDrawn;  // for output that is not a terminal
};
