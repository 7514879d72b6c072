// A ring of (time, bytes) samples: the speed is the bytes between the oldest sample still in the
// window and the newest, over the time between them.
#include "content_fetch/rate_meter.h"

namespace {

uint32_t Older(uint32_t slot, uint32_t steps) { return (slot + kRateSamples - steps % kRateSamples) % kRateSamples; }

// The oldest sample no more than kRateWindowMs before the newest; the newest itself when alone.
uint32_t WindowStart(const RateMeter& meter) {
    const uint64_t newest = meter.At[meter.Newest];
    uint32_t start = meter.Newest;
    for (uint32_t back = 1; back < meter.Count; ++back) {
        const uint32_t slot = Older(meter.Newest, back);
        if (newest - meter.At[slot] > kRateWindowMs) break;
        start = slot;
    }
    return start;
}

}  // namespace

void AddRateSample(RateMeter* meter, uint64_t nowMs, uint64_t bytes) {
    if (meter->Count > 0) {
        const uint64_t lastAt = meter->At[meter->Newest];
        const uint64_t lastBytes = meter->Bytes[meter->Newest];
        if (nowMs < lastAt) return;
        if (bytes < lastBytes) bytes = lastBytes;
        const bool open = meter->Count >= 2 && lastAt - meter->At[Older(meter->Newest, 1)] < kRateSpacingMs;
        if (nowMs == lastAt || open) {  // the newest sample moves on to this one
            meter->At[meter->Newest] = nowMs;
            meter->Bytes[meter->Newest] = bytes;
            return;
        }
        meter->Newest = (meter->Newest + 1) % kRateSamples;
    }
    meter->At[meter->Newest] = nowMs;
    meter->Bytes[meter->Newest] = bytes;
    if (meter->Count < kRateSamples) ++meter->Count;
}

bool RateKnown(const RateMeter& meter) {
    if (meter.Count < 2) return false;
    return meter.At[meter.Newest] - meter.At[WindowStart(meter)] >= kRateMinSpanMs;
}

uint64_t BytesPerSecond(const RateMeter& meter) {
    if (!RateKnown(meter)) return 0;
    const uint32_t start = WindowStart(meter);
    const uint64_t span = meter.At[meter.Newest] - meter.At[start];
    const uint64_t moved = meter.Bytes[meter.Newest] - meter.Bytes[start];
    // moved * 1000 overflows only past 18 PB moved within the window.
    return moved * 1000 / span;
}

uint32_t SecondsLeft(uint64_t bytesLeft, uint64_t bytesPerSecond) {
    if (bytesLeft == 0) return 0;
    if (bytesPerSecond == 0) return kSecondsLeftUnknown;
    const uint64_t seconds = bytesLeft / bytesPerSecond + (bytesLeft % bytesPerSecond ? 1 : 0);
    return seconds > kSecondsLeftMax ? kSecondsLeftMax : static_cast<uint32_t>(seconds);
}
