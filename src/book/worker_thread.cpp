#include "book/worker_thread.h"

#include <atomic>
#include <new>

// Both platforms live in this one file: each half is a few dozen lines, and
// the book library takes every .cpp file of its folder, so whole-file
// variants would need the build to pick one by hand.
#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace {

std::atomic<int32_t> startsLeft{-1};  // -1: no limit

// False when the test limit forbids another start; counts the start otherwise.
bool MayStart() {
  int32_t left = startsLeft.load();
  while (left != -1) {
    if (left == 0) return false;
    if (startsLeft.compare_exchange_weak(left, left - 1)) return true;
  }
  return true;
}

}  // namespace

void SetWorkerStartLimit(int32_t starts) { startsLeft.store(starts < 0 ? -1 : starts); }

#ifdef _WIN32

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
  if (!MayStart()) return nullptr;
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

#else

struct WorkerThread {
  std::thread thread;
};

struct WorkerSignal {
  std::mutex lock;
  std::condition_variable changed;
  bool raised = false;  // guarded by lock
};

WorkerThread* StartWorkerThread(void (*run)(void* context), void* context) {
  if (!MayStart()) return nullptr;
  WorkerThread* thread = new (std::nothrow) WorkerThread;
  if (thread == nullptr) return nullptr;
  try {
    thread->thread = std::thread(run, context);
  } catch (const std::system_error&) {  // no thread to be had
    delete thread;
    return nullptr;
  } catch (const std::bad_alloc&) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void JoinWorkerThread(WorkerThread* thread) {
  if (thread == nullptr) return;
  thread->thread.join();
  delete thread;
}

WorkerSignal* MakeWorkerSignal() { return new (std::nothrow) WorkerSignal; }

void RaiseWorkerSignal(WorkerSignal* signal) {
  {
    const std::lock_guard<std::mutex> hold(signal->lock);
    signal->raised = true;
  }
  signal->changed.notify_one();
}

void AwaitWorkerSignal(WorkerSignal* signal) {
  std::unique_lock<std::mutex> hold(signal->lock);
  signal->changed.wait(hold, [signal] { return signal->raised; });
  signal->raised = false;
}

void FreeWorkerSignal(WorkerSignal* signal) { delete signal; }

int32_t ProcessorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 && count < 1024 ? static_cast<int32_t>(count) : 1;
}

#endif
