#pragma once

// Not part of the library's interface, and never installed: how
// release_info.cpp scans release information, open to the unit tests.

#include <cstddef>
#include <memory>

#include "owners.h"

// The lookups' reading of release information, over `size` bytes of it: the
// value of `key` (matched as exact bytes) is what lies between the first two
// double quotes after the key's first occurrence, taken as UTF-8; the bytes
// end early at a zero byte. Same size-and-fill protocol and results as the
// lookups; null bytes or key give no value.
int findReleaseValue(const char* bytes, size_t size, const char* key, wchar_t** value, int capacity);

// The same reading over bytes that arrive in pieces, so that a file is read
// only as far as its answer lies: begin, continue with each piece in order
// until it answers true (the answer is known: the value's closing quote, a
// zero byte or a value longer than any path was met), then finish, which
// hands out the value as findReleaseValue does. The fields are the scan's own.
struct ReleaseValueScan {
    const char* key;
    size_t keyLength;
    std::unique_ptr<size_t[]> fallback; // per matched length, the longest key prefix that is also its suffix
    size_t matched;                     // key bytes matched so far
    int stage;
    UniqueBytes value;                  // the value's bytes, once its opening quote was met
    size_t valueLength;
};
void beginReleaseValueScan(ReleaseValueScan* scan, const char* key);
bool continueReleaseValueScan(ReleaseValueScan* scan, const char* piece, size_t size);
int finishReleaseValueScan(ReleaseValueScan* scan, wchar_t** value, int capacity);
