// The worker threads of a native build: std::thread, and signals made of a
// mutex and a condition variable.
#include "thread/worker_thread.h"

#include <condition_variable>
#include <chrono>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

struct WorkerThread {
  std::thread thread;
};

struct WorkerSignal {
  std::mutex lock;
  std::condition_variable changed;
  bool raised = false;  // guarded by lock
};

WorkerThread* StartWorkerThread(void (*run)(void* context), void* context) {
  if (!MayStartWorker()) return nullptr;
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

void PauseThread(int32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
