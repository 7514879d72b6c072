// Scanning texts read from files and servers: a leading decimal number ("%d" without its
// overflow) and the next white-space-delimited token (like "%s" without overrunning).
#pragma once

#include <cstddef>
#include <cstdint>

// Skips white space, takes an optional sign and the digits up to the first non-digit.
// Values beyond 32 bits saturate. No digits gives 0, and *end (when given) is then text
// itself; otherwise *end is just past the last digit.
int32_t ReadLeadingDecimal(const char* text, const char** end = nullptr);

bool IsBlankOrNewline(char c);

// Copies the next white-space-delimited token into dest (cut to destSize - 1 bytes, the rest
// of the token skipped so it never spills into the next one). Returns the position after the
// token; *found (when given) tells whether there was one.
const char* NextToken(const char* text, char* dest, std::size_t destSize, bool* found = nullptr);
