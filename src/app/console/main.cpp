// fixmod: the native stand-in of the updater. It runs the same update flow
// as the Windows program, with the terminal as its dialog (see
// console_dialog.h), App Paths from a text file (see app_paths_file.h) and
// the update data files beside its own executable. Like the updater, it
// takes no command line.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "app/console/code_page.h"
#include "app/console/console_dialog.h"
#include "app/update_dialog.h"
#include "app/update_run.h"
#include "app/update_texts.h"

namespace {

void* RunWorker(void*) {
  UpdateWorker(nullptr);
  return nullptr;
}

void ShowFatal(const char* text) {
  fprintf(stderr, "%s: %s\n", ToTerminal(FatalErrorCaption).c_str(), ToTerminal(text).c_str());
}

// A terminal left in raw mode by a killed program is useless to its user.
void RestoreAndDie(int signal) {
  ConsoleDialog::Get().Close();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

int main() {
  setlocale(LC_ALL, "");
  if (!OpenCodePages()) {
    fprintf(stderr, "fixmod: the C library cannot convert code page 932\n");
    return -1;
  }
  AppInstance = nullptr;  // the module is found through /proc/self/exe
  ConsoleDialog& dialog = ConsoleDialog::Get();
  if (!dialog.Open()) {
    ShowFatal(WindowCreateFailedText);
    return -1;
  }
  signal(SIGTERM, RestoreAndDie);
  signal(SIGHUP, RestoreAndDie);
  signal(SIGPIPE, SIG_IGN);
  LastChoice = 0;

  pthread_t worker;
  if (pthread_create(&worker, nullptr, RunWorker, nullptr) != 0) {
    // Nothing but the worker could ever end the dialog.
    dialog.Close();
    ShowFatal(WorkerStartFailedText);
    return -1;
  }
  dialog.RunLoop();
  dialog.Close();
  pthread_join(worker, nullptr);
  return 0;
}
