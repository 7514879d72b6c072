// Progress percentages and decimal header values.
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

int32_t ReadDecimal(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
           *text == '\f')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int32_t>(value);
}
