#include "app/update_dialog.h"

PlatformInstance AppInstance = nullptr;
PlatformWindow DialogWindow = nullptr;
std::atomic<int32_t> LastChoice{0};
WaitObject* PromptEvent = nullptr;

int32_t ShowPrompt(const char* text, int32_t mode) {
  PlatformSetItemText(DialogWindow, IDC_MESSAGE, text);

  const bool waits = mode == PromptAcknowledge || mode == PromptConfirm;
  WaitObject* wait = waits ? PlatformCreateWaitObject() : nullptr;
  // Published before any button is enabled, so that no press can be lost.
  PlatformLockPrompt();
  PromptEvent = wait;
  PlatformUnlockPrompt();
  if (wait != nullptr) {
    PlatformEnableItem(DialogWindow, IDOK, true);
    PlatformEnableItem(DialogWindow, IDCANCEL, mode == PromptConfirm);
  } else {
    // Also when a waited prompt could not make its wait object: an enabled
    // button that nothing listens to would only mislead.
    PlatformEnableItem(DialogWindow, IDOK, false);
    PlatformEnableItem(DialogWindow, IDCANCEL, false);
  }
  PlatformRepaint(DialogWindow);

  int32_t choice = waits ? static_cast<int32_t>(ChoiceNone) : LastChoice.load();
  if (wait != nullptr) {
    PlatformWait(wait);
    // The answer is taken in the same locked step that withdraws the wait
    // object: the press that signalled it, or a later one that still found
    // it published; a press after this belongs to no prompt.
    PlatformLockPrompt();
    PromptEvent = nullptr;
    choice = LastChoice.load();
    PlatformCloseWaitObject(wait);
    PlatformUnlockPrompt();
  }

  PlatformSetItemText(DialogWindow, IDC_MESSAGE, "");
  return choice;
}

bool UpdateDialogCommand(int32_t notificationCode, int32_t controlId) {
  if (notificationCode != 0) return false;
  int32_t choice = ChoiceNone;
  if (controlId == IDOK) choice = ChoiceOk;
  if (controlId == IDCANCEL) choice = ChoiceCancel;
  PlatformLockPrompt();
  LastChoice.store(choice);
  if (PromptEvent != nullptr) PlatformSignal(PromptEvent);
  PlatformUnlockPrompt();
  return true;
}

bool CloseUpdateDialog(bool cancelEnabled) {
  if (!cancelEnabled) return false;
  UpdateDialogCommand(0, IDCANCEL);
  return true;
}
