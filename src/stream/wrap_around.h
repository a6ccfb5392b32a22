// Marks a function whose unsigned arithmetic wraps around on purpose (a hash
// whose state has no wider type to be computed in), so that clang's integer
// checks pass over that function and nothing else. Where a wider type
// exists, compute in it and cut the result with an explicit cast instead.
#pragma once

#if defined(__clang__)
#define FIX_WRAPS_AROUND __attribute__((no_sanitize("unsigned-integer-overflow")))
#else
#define FIX_WRAPS_AROUND
#endif
