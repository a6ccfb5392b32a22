#include "oom/failing_allocator.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <new>

// glibc's own allocator under its internal names: what the replacements
// below hand on to. The names are glibc's, reserved as they are.
extern "C" {
void* __libc_malloc(size_t size);                      // NOLINT(bugprone-reserved-identifier)
void* __libc_calloc(size_t count, size_t size);        // NOLINT(bugprone-reserved-identifier)
void* __libc_realloc(void* block, size_t size);        // NOLINT(bugprone-reserved-identifier)
void* __libc_memalign(size_t alignment, size_t size);  // NOLINT(bugprone-reserved-identifier)
void __libc_free(void* block);                         // NOLINT(bugprone-reserved-identifier)
}

namespace {

std::atomic<bool> counting{false};
pthread_t countingThread;
uint64_t counted = 0;
uint64_t failAt = 0;
bool failAfter = false;
bool failed = false;
thread_local int uncountedDepth = 0;

// True when this allocation is the one to fail. Never allocates.
bool FailsNow() {
  if (!counting.load(std::memory_order_acquire)) return false;
  if (uncountedDepth > 0 || !pthread_equal(pthread_self(), countingThread)) return false;
  ++counted;
  if (failAt == 0 || counted < failAt || (counted > failAt && !failAfter)) return false;
  failed = true;
  errno = ENOMEM;
  return true;
}

void* Allocate(size_t size) { return FailsNow() ? nullptr : __libc_malloc(size); }

void* AllocateAligned(size_t size, std::align_val_t alignment) {
  return FailsNow() ? nullptr : __libc_memalign(static_cast<size_t>(alignment), size);
}

void* New(size_t size) {
  void* block = Allocate(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* NewAligned(size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size == 0 ? 1 : size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

namespace failing_allocator {

void Begin(uint64_t failAtNumber, bool andAfter) {
  countingThread = pthread_self();
  counted = 0;
  failAt = failAtNumber;
  failAfter = andAfter;
  failed = false;
  counting.store(true, std::memory_order_release);
}

uint64_t End() {
  counting.store(false, std::memory_order_release);
  return counted;
}

bool Failed() { return failed; }

void BeginUncounted() { ++uncountedDepth; }
void EndUncounted() { --uncountedDepth; }

}  // namespace failing_allocator

extern "C" {

void* malloc(size_t size) { return Allocate(size); }

void* calloc(size_t count, size_t size) { return FailsNow() ? nullptr : __libc_calloc(count, size); }

void* realloc(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  if (size == 0) return __libc_realloc(block, 0);
  return FailsNow() ? nullptr : __libc_realloc(block, size);
}

void free(void* block) { __libc_free(block); }

}  // extern "C"

void* operator new(size_t size) { return New(size); }
void* operator new[](size_t size) { return New(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size == 0 ? 1 : size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size == 0 ? 1 : size); }
void* operator new(size_t size, std::align_val_t alignment) { return NewAligned(size, alignment); }
void* operator new[](size_t size, std::align_val_t alignment) { return NewAligned(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size == 0 ? 1 : size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size == 0 ? 1 : size, alignment);
}

void operator delete(void* block) noexcept { __libc_free(block); }
void operator delete[](void* block) noexcept { __libc_free(block); }
void operator delete(void* block, size_t) noexcept { __libc_free(block); }
void operator delete[](void* block, size_t) noexcept { __libc_free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { __libc_free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { __libc_free(block); }
void operator delete(void* block, std::align_val_t) noexcept { __libc_free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { __libc_free(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { __libc_free(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { __libc_free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { __libc_free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { __libc_free(block); }
