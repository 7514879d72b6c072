// The progress bars' arithmetic.
#pragma once

#include <cstdint>

// Upper bar: received * 1.0 / expected * 100.0 in single precision, truncated toward zero,
// and kept within 0..100 so that a server sending more than it announced, announcing 0 or a
// negative length never turns into an out-of-range float-to-integer conversion.
int32_t TransferPercent(int64_t received, int64_t expected);

// Lower bar: completed * 100 / total with integer division; 0 when total is not positive.
int32_t CompletedPercent(int32_t completed, int32_t total);
