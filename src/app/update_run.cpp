#include "app/update_run.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/install_lookup.h"
#include "app/platform.h"
#include "app/product_table.h"
#include "app/status_messages.h"
#include "app/update_dialog.h"
#include "app/update_texts.h"
#include "book/parallel_deflate.h"
#include "package/update_package.h"
#include "stream/cp932_path.h"
#include "stream/text_buffer.h"

namespace {

constexpr size_t NotFoundSize = 512;

// Shows the question for `row` and `folder` and returns the answer. When the
// question cannot be composed, nothing is asked (an incomplete question
// could name no folder at all): the memory message is shown and the answer
// is ChoiceNone.
int32_t AskToUpdate(const ProductEntry& row, const char* folder) {
  TextBuffer question;
  if (question.Append(row.displayName) != 0 || question.Append(QuestionAfterName) != 0 ||
      question.Append(folder) != 0 || question.Append(QuestionAfterFolder) != 0) {
    ShowPrompt(StatusMessages[LookupNoMemory], PromptAcknowledge);
    return ChoiceNone;
  }
  return ShowPrompt(question.text, PromptConfirm);
}

void EnterUpdatingState() {
  PlatformEnableItem(DialogWindow, IDOK, false);
  PlatformEnableItem(DialogWindow, IDCANCEL, false);
  PlatformSetItemText(DialogWindow, IDC_MESSAGE, UpdatingText);
  PlatformRepaint(DialogWindow);
}

// Reads the package of the data file at `path` and applies it to `folder`.
// A data file that cannot be read or unpacked is never applied and counts
// as a failed package.
int32_t UpdateProduct(const char* path, const char* folder, int32_t threads) {
  std::vector<uint8_t> script;
  const int32_t read = ReadUpdatePackage(path, &script);
  if (read != 0) return read;
  return ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder, nullptr,
                      PlatformPackageFiles(), threads);
}

}  // namespace

int32_t RunUpdates(int32_t threads) {
  ShowPrompt(GreetingText, PromptAcknowledge);

  // On the stack: the run allocates nothing that it could not do without
  // before it has found a product.
  char path[ModulePathSize];
  const uint32_t length = PlatformGetModuleFileName(AppInstance, path, ModulePathSize);
  // A path that failed or was cut short names no folder of ours; the data
  // files are then looked for by their names alone, in the current folder.
  if (length == 0 || length >= ModulePathSize) path[0] = '\0';
  // The path is in the system's code page, which tells its separators.
  char* separator = FindLastBackslash(path, PlatformIsLeadByte);
  char* name = separator != nullptr ? separator + 1 : path;
  const size_t room = static_cast<size_t>(path + ModulePathSize - name);

  int32_t result = 0;
  for (const ProductEntry* row = ProductTable; row->displayName != nullptr; ++row) {
    const size_t nameSize = strlen(row->dataFileName) + 1;
    if (nameSize > room) continue;  // a path that cannot be written names no file
    memcpy(name, row->dataFileName, nameSize);
    if (!PlatformFileExists(path)) continue;

    TextBuffer folder;
    if (FindInstallPath(&folder, *row, true) != LookupLocated) {
      char notFound[NotFoundSize];
      snprintf(notFound, sizeof notFound, NotFoundFormat, row->displayName);
      ShowPrompt(notFound, PromptAcknowledge);
      return 1;
    }
    if (AskToUpdate(*row, folder.text) != ChoiceOk) {
      ShowPrompt(DeclinedText, PromptAcknowledge);
      return 1;
    }
    EnterUpdatingState();
    result = UpdateProduct(path, folder.text, threads);
    ShowPrompt(result == 0 ? SucceededText : FailedText, PromptAcknowledge);
  }
  return result;
}

void UpdateWorker(void* /*unused*/) {
  // The run itself throws nothing; a platform layer that does (the console
  // stand-in's strings) must still not end the worker without a word, nor
  // leave the dialog with nothing that could close it.
  try {
    RunUpdates(DefaultPackThreads());
  } catch (...) {
    try {
      ShowPrompt(FailedText, PromptAcknowledge);
    } catch (...) {
      // Nothing more can be shown; the program still ends.
    }
  }
  PlatformPostDestroy(DialogWindow);
}
