#pragma once
// The two fuzzed entry points, shared by the libFuzzer targets and by the replay test that feeds
// every kept corpus file to them in the normal test run.

#include <cstddef>
#include <cstdint>

// Input: a selector byte, then request and answer bytes (see FuzzEntries.cpp). Runs the exchange
// decoder, its CSV row, and the request log line reader over the bytes.
void FuzzDecodeExchange(const uint8_t* data, size_t size);
// Input: the request code, the zero block, the failure limit, then the answer. Builds the request
// on a fresh device object (which records what the answer is parsed against) and parses the
// answer; the top bit of the first byte parses a КАЛИСТ-1 answer instead.
void FuzzParseAnswer(const uint8_t* data, size_t size);
