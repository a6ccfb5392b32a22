// The update run: the whole job of the updater, on the worker thread.
#pragma once

#include <cstdint>

// Size of the buffer that holds the updater's own path and, in turn, the
// path of each product's update data file.
constexpr uint32_t ModulePathSize = 8192;

// Greets the user, then walks ProductTable in order. For every product whose
// update data file lies beside the updater it finds the install folder, asks
// the user, reads and applies the package and reports the outcome; a failed
// package does not stop the run. Returns 1 when the run stopped early (a
// product not located, an update declined), otherwise the result of the
// last package (0 applied; the package step's failure value, -1 for a data
// file that cannot be read or unpacked), or 0 when no package was tried.
// Worker thread only.
int32_t RunUpdates();

// The worker thread's entry (the runtime's own thread start on Win32, whose
// thread end follows when it returns): runs the update run, ignoring its
// result, then asks the user-interface thread to end the program. The
// argument plays no part.
void UpdateWorker(void* unused);
