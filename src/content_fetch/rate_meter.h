// The speed of a transfer averaged over its last few seconds, and the time its rest will take at
// that speed: what the status line shows while the content worker fetches.
#pragma once

#include <cstdint>

// The span the speed is averaged over: long enough to smooth one stalled connection among
// several, short enough to follow a link that slows down.
constexpr uint64_t kRateWindowMs = 5000;
// No speed is told before the samples span this much: the first tenths of a second say little.
constexpr uint64_t kRateMinSpanMs = 1000;
// Samples closer than this to the one before are merged into it, so that however often the
// caller adds them, kRateSamples of them span more than the window.
constexpr uint64_t kRateSpacingMs = 50;
constexpr uint32_t kRateSamples = 128;

struct RateMeter {
    uint64_t At[kRateSamples];     // milliseconds, of a clock that never goes back
    uint64_t Bytes[kRateSamples];  // the bytes done by then, never fewer than the sample before
    uint32_t Count = 0;
    uint32_t Newest = 0;  // the slot of the newest sample
};

// Notes that bytes were done by nowMs. A sample older than the newest is ignored, and fewer
// bytes than before count as the same bytes (a retried range does not undo what was kept).
void AddRateSample(RateMeter* meter, uint64_t nowMs, uint64_t bytes);

// Bytes per second over the samples of the last kRateWindowMs before the newest; 0 while they
// span less than kRateMinSpanMs (unknown, not "stalled": see RateKnown).
uint64_t BytesPerSecond(const RateMeter& meter);
// True once the samples span kRateMinSpanMs within the window, whether bytes moved or not.
bool RateKnown(const RateMeter& meter);

// Seconds until bytesLeft are done at rate, rounded up; kSecondsLeftUnknown at no speed.
constexpr uint32_t kSecondsLeftUnknown = 0xFFFFFFFFu;
constexpr uint32_t kSecondsLeftMax = 99 * 3600 + 59 * 60 + 59;  // longer is shown as this
uint32_t SecondsLeft(uint64_t bytesLeft, uint64_t bytesPerSecond);
