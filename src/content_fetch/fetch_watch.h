// What a content request's tries tell whoever shows the progress, and how they learn that the
// launcher is ending. The fetch room draws nothing itself.
#pragma once

class FetchWatch {
public:
    // A wait begins before another try of path (a release path, "Content/packs/10-3.pack").
    // Requests running side by side, each on its own thread, may each be waiting.
    virtual void RetryWaitBegins(const char* path) = 0;
    // The wait goes on: told once a second with the whole seconds left.
    virtual void RetryWaiting(unsigned secondsLeft, const char* path) = 0;
    // The wait begun above is over: resumed non-zero when the next try follows, 0 when the wait
    // ended because the launcher is ending or the run stopped.
    virtual void RetryWaitOver(int resumed) = 0;
    // Non-zero once the launcher is ending: waits end at once and no new try starts.
    virtual int Ending() const = 0;

protected:
    ~FetchWatch() = default;
};
