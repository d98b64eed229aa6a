#pragma once
// The two fuzzed entry points, shared by the libFuzzer targets and by the replay test that feeds
// every kept corpus file to them in the normal test run.

#include <cstddef>
#include <cstdint>

// Input: a selector byte, then request and answer bytes (see FuzzEntries.cpp). Runs the exchange
// decoder, its CSV row, and the request log line reader over the bytes.
void FuzzDecodeExchange(const uint8_t* data, size_t size);
// Input: the request code, the zero block, the failure limit, then the answer. Encodes the request
// from a fresh device object, decodes the answer against it with the pure decoder and applies
// the result to the object; the top bit of the first byte decodes a КАЛИСТ-1 answer instead.
void FuzzParseAnswer(const uint8_t* data, size_t size);
