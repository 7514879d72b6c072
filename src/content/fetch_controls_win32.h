// The player's controls over every content fetch, the chunk lanes' and the deltas' alike: a
// pause and one speed limit, set from the window thread at any time and read by the fetching
// threads, which never wait on the window.
#pragma once

#include <cstddef>
#include <cstdint>

// Paused fetches stop at their next chunk (or the delta's next piece), dropping their
// connections, and go on from where they got to once resumed; nothing else of the run waits
// for them meanwhile but the worker.
void PauseContentFetch(bool paused);
bool ContentFetchPaused();
// One limit shared by every fetch, with a second of burst; 0 lifts it. Applies at once.
void LimitContentFetch(uint64_t bytesPerSecond);

// A paused fetch, or one that owes the limit, looks again this often for a stop or a quit.
constexpr unsigned long kFetchNapMs = 50;

// Whether the fetch still wants its bytes, asked while it waits.
struct FetchGoOn {
    bool (*Ask)(const void* context);
    const void* Context;
    bool operator()() const { return Ask(Context); }
};

// A fetch step begins: the limit holds from its first byte, with no burst saved up before it,
// so that the speed shown and the time left follow it from the first second.
void StartLimitedFetch();
// Pays the limit for bytes that came in: the caller reads no more of its connection meanwhile,
// so the server's sending slows to the limit too. False when goOn turns false meanwhile.
bool PayFetchLimit(std::size_t length, const FetchGoOn& goOn);
// Sleeps while the player keeps the fetches paused; then goOn's answer.
bool WaitWhileFetchPaused(const FetchGoOn& goOn);
