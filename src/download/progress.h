// The progress bars' arithmetic and the reading of the numbers a patch server sends as text.
#pragma once

#include <cstdint>

// Upper bar: received * 1.0 / expected * 100.0 in single precision, truncated toward zero,
// and kept within 0..100 so that a server sending more than it announced, announcing 0 or a
// negative length never turns into an out-of-range float-to-integer conversion.
int32_t TransferPercent(int64_t received, int64_t expected);

// Lower bar: completed * 100 / total with integer division; 0 when total is not positive.
int32_t CompletedPercent(int32_t completed, int32_t total);

// Reads a decimal number the way "%d" does (leading blanks, an optional sign, digits), but
// clamped to the 32-bit range instead of overflowing; 0 when the text holds no number.
int32_t ReadDecimal(const char* text);
