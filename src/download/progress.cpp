// Progress percentages.
#include "download/progress.h"

int32_t TransferPercent(int64_t received, int64_t expected) {
    // An announced length of 0 or less gives an infinite or negative quotient (or NaN);
    // decided here so no division by zero ever happens.
    if (expected <= 0) return received > 0 && expected == 0 ? 100 : 0;
    // Every step is stored so that it is rounded to single precision: the x87 unit of a
    // 32-bit build would otherwise carry extra bits and truncate differently near whole
    // percentages.
    volatile float numerator = static_cast<float>(received);
    volatile float denominator = static_cast<float>(expected);
    volatile float quotient = numerator * 1.0f;
    quotient = quotient / denominator;
    quotient = quotient * 100.0f;
    if (!(quotient > 0.0f)) return 0;
    if (quotient >= 100.0f) return 100;
    return static_cast<int32_t>(quotient);
}

int32_t CompletedPercent(int32_t completed, int32_t total) {
    if (total <= 0) return 0;
    return static_cast<int32_t>(static_cast<int64_t>(completed) * 100 / total);
}
