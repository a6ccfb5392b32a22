// The update run: the whole job of the updater, on the worker thread.
#pragma once

#include <cstdint>

// Size of the buffer that holds the updater's own path and, in turn, the
// path of each product's update data file.
constexpr uint32_t ModulePathSize = 8192;

// Greets the user, then walks ProductTable in order. For every product whose
// update data file lies beside the updater it finds the install folder, asks
// the user, reads and applies the package and reports the outcome; a failed
// package does not stop the run. Worker thread only. Returns
//   1   the run stopped early (a product not located, an update declined);
//   0   the last package tried was applied, or no package was tried;
//   -1  the last package's data file cannot be read or unpacked;
//   the package step's failure value (update_package.h) for the last
//   package otherwise.
// Books are merged on `threads` threads; the bytes are the same for any
// count.
int32_t RunUpdates(int32_t threads = 1);

// The worker thread's entry (the runtime's own thread start on Win32, whose
// thread end follows when it returns): runs the update run on one thread per
// processor (at most eight), ignoring its result, then asks the
// user-interface thread to end the program. The
// argument plays no part.
void UpdateWorker(void* unused);
