// The libFuzzer entry of one target, chosen by FUZZ_TARGET when built.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FUZZ_TARGET(data, size); }
