// libFuzzer target: the exchange decoder and the request log line reader.
#include "tests/fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDecodeExchange(data, size);
    return 0;
}
