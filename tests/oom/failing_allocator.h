// An allocator for tests that makes one chosen allocation fail: it replaces
// malloc, calloc, realloc and free and every form of operator new and delete
// in the test program, so that the C and C++ runtimes, zlib and the
// program's own code all draw from it. Only the allocations of the thread
// that began a count, made while the count runs, are counted; everything
// else (the test framework, the scratch folders) passes through untouched.
//
// A failed allocation behaves as the runtime's would: malloc, calloc and
// realloc give null with errno ENOMEM, operator new throws std::bad_alloc,
// its nothrow forms give null.
#pragma once

#include <cstdint>

namespace failing_allocator {

// Starts counting the calling thread's allocations. The allocation numbered
// `failAt` (from 1) fails, and with `andAfter` every one after it as well;
// 0 lets every one succeed.
void Begin(uint64_t failAt, bool andAfter = false);
// Stops counting and returns the number of allocations counted.
uint64_t End();
// True when the allocation chosen by Begin has been made to fail.
bool Failed();

// Allocations made on the counting thread between these two calls (which
// nest) are not counted: the bookkeeping of a test fake that stands for the
// system.
void BeginUncounted();
void EndUncounted();

}  // namespace failing_allocator
