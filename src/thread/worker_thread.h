// The few thread operations that the body packer and the merge pipeline
// need, the same on every platform: start a thread and wait for its end, and
// an auto-reset signal that one thread raises and another awaits. Win32
// builds use the runtime's _beginthreadex and kernel events
// (worker_thread_win32.cpp), as the updater's own worker does, so the
// program needs no threads library of its own; native builds use
// std::thread (worker_thread_std.cpp). The build links one of the two.
//
// Nothing here throws. Every operation may be called from any thread, but a
// thread or a signal is freed by one thread only, once nobody else uses it.
#pragma once

#include <cstdint>

struct WorkerThread;
struct WorkerSignal;

// Starts a thread running run(context). Null when no thread can be started
// (the caller then does the work itself); nothing has run in that case.
WorkerThread* StartWorkerThread(void (*run)(void* context), void* context);

// Waits until the thread's run has returned, then frees the thread.
void JoinWorkerThread(WorkerThread* thread);

// A new signal, not raised. Null when it cannot be made.
WorkerSignal* MakeWorkerSignal();

// Raises the signal; a signal raised twice before it is awaited counts once.
void RaiseWorkerSignal(WorkerSignal* signal);

// Waits until the signal is raised and lowers it again.
void AwaitWorkerSignal(WorkerSignal* signal);

void FreeWorkerSignal(WorkerSignal* signal);

// Lets the calling thread sleep for about `milliseconds` (0 or less: not at
// all).
void PauseThread(int32_t milliseconds);

// The number of processors the system offers this process, at least 1.
int32_t ProcessorCount();

// For tests: lets only the next `starts` calls of StartWorkerThread succeed
// and makes every later one fail, as when the system runs out of threads;
// -1 lifts the limit (the default).
void SetWorkerStartLimit(int32_t starts);

// For the two implementations: counts a start against that limit; false
// when the limit forbids it.
bool MayStartWorker();
