// Single-range requests for chunk data: the Range header a request sends and the check of
// the Content-Range its answer carries, and which failures are worth another try.
#pragma once

#include <cstddef>
#include <cstdint>

// "Range: bytes=FIRST-LAST\r\n" (LAST inclusive, as HTTP counts). Returns 1, or 0 when it does
// not fit out (size bytes) or last is below first.
int FormatRangeHeader(uint64_t first, uint64_t last, char* out, std::size_t size);

// Whether a Content-Range value ("bytes 100-199/5000" or "bytes 100-199/*") names exactly
// first..last, and, with a known total, one that holds it. Anything else (another unit, a
// multi-part answer, blanks or signs where digits belong, numbers above 2^63) is 0.
int ContentRangeMatches(const char* value, uint64_t first, uint64_t last);

// Whether an HTTP status means the server may answer the same request later: 408, 429 and
// every 5xx. A 404 or 403 will not change by waiting.
int IsRetryableStatus(uint32_t status);
