// The update dialog's prompt protocol: the values the two threads share,
// ShowPrompt on the worker side and the command handling of the dialog
// procedure on the user-interface side.
//
// The worker talks to the user only through ShowPrompt (and the updating
// state of the run). A waited prompt makes a fresh wait object, publishes it
// in PromptEvent, enables the buttons and blocks; a button command records
// the choice in LastChoice and signals the published wait object. Both sides
// touch PromptEvent and LastChoice only under the prompt lock, so a press
// never signals an object that the worker has already released.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/platform.h"
#include "app/update_dialog_ids.h"

enum PromptMode : int32_t {
  PromptAcknowledge = 0,  // OK only; waits
  PromptConfirm = 4,      // OK and Cancel; waits
};

enum Choice : int32_t {
  ChoiceNone = 0,    // a command from any other control, or no answer
  ChoiceOk = 1,      // OK pressed
  ChoiceCancel = 2,  // Cancel pressed (or the window closed while Cancel was enabled)
};

// Process-wide values. AppInstance and DialogWindow are written by the
// program's start before the worker runs and only read afterwards.
extern PlatformInstance AppInstance;  // the module instance, for the updater's own path
extern PlatformWindow DialogWindow;   // the update dialog, for every dialog operation
// The last button pressed (a Choice). Written by the user-interface thread
// under the prompt lock; 0 at the start.
extern std::atomic<int32_t> LastChoice;
// The wait object of the prompt that waits, or null. Written by the worker,
// read by the user-interface thread, both under the prompt lock.
extern WaitObject* PromptEvent;

// Shows `text` in the message area and, for PromptAcknowledge and
// PromptConfirm, waits for a press made while this prompt waits. Returns the
// choice of that press. Any other mode disables both buttons and does not
// wait (its text is then replaced by the empty one at once) and returns
// LastChoice as it stands. When no wait object can be made, a waited prompt
// does not wait either and returns ChoiceNone, never an older press. The
// message area is empty when it returns; the buttons keep the state the
// mode gave them. Worker thread only.
int32_t ShowPrompt(const char* text, int32_t mode);

// The dialog procedure's command handling (WM_COMMAND): for notification
// code 0 it records the choice of control `controlId` (ChoiceOk for IDOK,
// ChoiceCancel for IDCANCEL, ChoiceNone otherwise) and signals the waiting
// prompt, if any; returns true. Any other notification code: false, nothing
// done. User-interface thread.
bool UpdateDialogCommand(int32_t notificationCode, int32_t controlId);

// What the Win32 dialog manager does with a close of the window (the close
// box or Close in the system menu), for platforms that have no dialog
// manager: while the Cancel button is enabled the close is a Cancel command
// and the result is true; otherwise it is refused (the caller beeps) and the
// result is false. User-interface thread.
bool CloseUpdateDialog(bool cancelEnabled);
