// When a content request is tried again: which failures are worth another try, and the wait
// before each try (exponential, with jitter from a generator the caller seeds).
#pragma once

#include <cstdint>

// Tries of one request in all, the first included: waits of 1, 2, 4, 8 and 16 s lie between.
constexpr uint32_t kContentTries = 6;

// How one try of a content request ended, as the transfer saw it.
enum ContentFailure : int32_t {
    kFailNone = 0,
    kFailOpen = 1,    // no answer: name, connection, proxy or secure channel (Error says which)
    kFailStatus = 2,  // an answer with a status that is not the range's (Status says which)
    kFailAnswer = 3,  // a 206 for other bytes, or a length that is not the range's
    kFailRead = 4,    // the body broke off, timed out or ended short
    kFailChunk = 5,   // a chunk (or the release manifest) came whole but not as its hash says
    kFailLocal = 6,   // on this side: memory, the cache, a plan that does not fit the answer
};

struct ContentTry {
    ContentFailure Failure;
    uint32_t Status;  // the HTTP status, 0 when none came
    uint32_t Error;   // the system's error code, 0 when none
};

// 1 when waiting may help (connection refused or reset, name resolution, time-outs, 408, 429,
// 5xx, a short or garbled answer, a chunk that failed its hash), 0 when the same answer would
// come again (404, 403 and the other statuses, failures of this side, certificate refusals).
int ContentFailureIsPassing(const ContentTry& attempt);

// 1 when the failure is the server saying it does not have, or will not give, the file: a 4xx
// other than 408 and 429. The status line then names the release.
int ContentFailureIsRefusal(const ContentTry& attempt);

// The jitter's generator: splitmix64, so a test's seed gives the same waits every time.
struct RetryJitter {
    uint64_t State;
};
uint64_t NextJitter(RetryJitter& jitter);

// The wait in milliseconds before try number `next` (2..kContentTries): 1 s before the second,
// doubling, each plus up to half again at random. 0 for the first try or past the last.
uint32_t ContentRetryWaitMs(uint32_t next, RetryJitter& jitter);

// Whole seconds shown while `leftMs` remain (rounded up, so the line never shows 0 before the
// try), and how long to sleep until that number changes.
uint32_t CountdownSeconds(uint32_t leftMs);
uint32_t CountdownStepMs(uint32_t leftMs);
