#include "app/dll_search.h"

bool LimitDllSearch(const DllSearchCalls& calls) {
  // The current folder is the one the user started the program in, as
  // open to planted files as the program's own; it goes even where the
  // system folder alone cannot be asked for.
  if (calls.setDllDirectory != nullptr) calls.setDllDirectory("");
  if (calls.setDefaultDirectories == nullptr) return false;
  return calls.setDefaultDirectories(DllSearchSystemFolder) != 0;
}
