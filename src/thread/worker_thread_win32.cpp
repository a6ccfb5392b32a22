// The worker threads of a Win32 build: the runtime's own _beginthreadex, as
// the updater's worker uses, and auto-reset kernel events.
#include "thread/worker_thread.h"

#include <windows.h>
#include <process.h>

#include <new>

// The runtime's own thread start (not CreateThread), so that the C runtime
// is set up for the thread, as for the updater's worker.
struct WorkerThread {
  HANDLE handle = nullptr;
  void (*run)(void*) = nullptr;
  void* context = nullptr;
};

struct WorkerSignal {
  HANDLE event = nullptr;  // auto-reset kernel event
};

namespace {

unsigned __stdcall ThreadEntry(void* argument) {
  WorkerThread* thread = static_cast<WorkerThread*>(argument);
  thread->run(thread->context);
  return 0;
}

}  // namespace

WorkerThread* StartWorkerThread(void (*run)(void* context), void* context) {
  if (!MayStartWorker()) return nullptr;
  WorkerThread* thread = new (std::nothrow) WorkerThread;
  if (thread == nullptr) return nullptr;
  thread->run = run;
  thread->context = context;
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadEntry, thread, 0, nullptr);
  if (handle == 0) {
    delete thread;
    return nullptr;
  }
  thread->handle = reinterpret_cast<HANDLE>(handle);
  return thread;
}

void JoinWorkerThread(WorkerThread* thread) {
  if (thread == nullptr) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

WorkerSignal* MakeWorkerSignal() {
  WorkerSignal* signal = new (std::nothrow) WorkerSignal;
  if (signal == nullptr) return nullptr;
  signal->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (signal->event == nullptr) {
    delete signal;
    return nullptr;
  }
  return signal;
}

void RaiseWorkerSignal(WorkerSignal* signal) { SetEvent(signal->event); }

void AwaitWorkerSignal(WorkerSignal* signal) { WaitForSingleObject(signal->event, INFINITE); }

void FreeWorkerSignal(WorkerSignal* signal) {
  if (signal == nullptr) return;
  CloseHandle(signal->event);
  delete signal;
}

int32_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 && info.dwNumberOfProcessors < 1024
             ? static_cast<int32_t>(info.dwNumberOfProcessors)
             : 1;
}

void PauseThread(int32_t milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}
