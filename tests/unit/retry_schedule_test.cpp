// The content requests' retry rules: which failures are tried again, the waits and the countdown.
#include <gtest/gtest.h>

#include <cstdint>

#include "content_fetch/retry_schedule.h"

TEST(ContentRetry, PassingFailuresAreTriedAgainAndRefusalsStop) {
    struct Case {
        ContentTry attempt;
        int passing;
        int refusal;
    } cases[] = {
        {{kFailOpen, 0, 12029}, 1, 0},   // connection refused
        {{kFailOpen, 0, 12031}, 1, 0},   // connection reset
        {{kFailOpen, 0, 12007}, 1, 0},   // name not resolved
        {{kFailOpen, 0, 12002}, 1, 0},   // time-out
        {{kFailOpen, 0, 10054}, 1, 0},   // a reset as Winsock names it
        {{kFailOpen, 0, 12175}, 0, 0},   // the secure channel refused: the same next time
        {{kFailOpen, 0, 12005}, 0, 0},   // an invalid address
        {{kFailOpen, 0, 0}, 0, 0},
        {{kFailStatus, 503, 0}, 1, 0},
        {{kFailStatus, 500, 0}, 1, 0},
        {{kFailStatus, 599, 0}, 1, 0},
        {{kFailStatus, 408, 0}, 1, 0},
        {{kFailStatus, 429, 0}, 1, 0},
        {{kFailStatus, 0, 12150}, 1, 0},  // no status: the head broke off
        {{kFailStatus, 404, 0}, 0, 1},
        {{kFailStatus, 403, 0}, 0, 1},
        {{kFailStatus, 410, 0}, 0, 1},
        {{kFailStatus, 416, 0}, 0, 1},
        {{kFailStatus, 400, 0}, 0, 1},
        {{kFailStatus, 304, 0}, 0, 0},   // neither a server error nor a refusal: stops
        {{kFailStatus, 204, 0}, 0, 0},
        {{kFailStatus, 600, 0}, 0, 0},
        {{kFailAnswer, 206, 0}, 1, 0},
        {{kFailRead, 206, 12002}, 1, 0},  // the receive time-out
        {{kFailRead, 206, 0}, 1, 0},      // the body ended short
        {{kFailChunk, 206, 0}, 1, 0},
        {{kFailLocal, 206, 8}, 0, 0},
        {{kFailNone, 206, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.passing, ContentFailureIsPassing(c.attempt)) << c.attempt.Failure << " " << c.attempt.Status << " " << c.attempt.Error;
        EXPECT_EQ(c.refusal, ContentFailureIsRefusal(c.attempt)) << c.attempt.Failure << " " << c.attempt.Status;
    }
}

TEST(ContentRetry, WaitsDoubleFromOneSecondWithUpToHalfAgainOfJitter) {
    EXPECT_EQ(6u, kContentTries);
    struct Case {
        uint32_t next;
        uint32_t low;
        uint32_t high;
    } cases[] = {{0, 0, 0}, {1, 0, 0}, {2, 1000, 1500}, {3, 2000, 3000}, {4, 4000, 6000},
                 {5, 8000, 12000}, {6, 16000, 24000}, {7, 0, 0}, {100, 0, 0}};
    for (const Case& c : cases) {
        uint32_t least = UINT32_MAX, most = 0;
        for (uint64_t seed = 0; seed < 2000; ++seed) {
            RetryJitter jitter = {seed};
            const uint32_t wait = ContentRetryWaitMs(c.next, jitter);
            least = wait < least ? wait : least;
            most = wait > most ? wait : most;
        }
        EXPECT_GE(least, c.low) << c.next;
        EXPECT_LE(least, c.low + c.low / 20) << c.next;  // reaches near the floor
        EXPECT_LE(most, c.high) << c.next;
        EXPECT_GE(most, c.high - c.high / 20) << c.next;  // and near the ceiling
    }
}

TEST(ContentRetry, TheSameSeedGivesTheSameWaitsAndOthersDiffer) {
    RetryJitter a = {42}, b = {42}, c = {43};
    int differ = 0;
    for (uint32_t next = 2; next <= kContentTries; ++next) {
        const uint32_t wa = ContentRetryWaitMs(next, a);
        EXPECT_EQ(wa, ContentRetryWaitMs(next, b));
        differ += wa != ContentRetryWaitMs(next, c);
    }
    EXPECT_GE(differ, 4);
}

TEST(ContentRetry, TheCountdownShowsWholeSecondsLeftAndStepsToTheNextChange) {
    struct Case {
        uint32_t left;
        uint32_t seconds;
        uint32_t step;
    } cases[] = {{0, 0, 0}, {1, 1, 1}, {999, 1, 999}, {1000, 1, 1000}, {1001, 2, 1},
                 {1499, 2, 499}, {2000, 2, 1000}, {23999, 24, 999}, {24000, 24, 1000}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.seconds, CountdownSeconds(c.left)) << c.left;
        EXPECT_EQ(c.step, CountdownStepMs(c.left)) << c.left;
        if (c.left) {
            EXPECT_EQ(c.seconds - 1, CountdownSeconds(c.left - c.step)) << c.left;
        }
    }
}
