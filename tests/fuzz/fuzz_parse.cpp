// libFuzzer target: the device object's answer parsers on a fresh device object per input.
#include "tests/fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzParseAnswer(data, size);
    return 0;
}
