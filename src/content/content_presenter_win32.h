// The one place the content mode draws: its reports turned into the status line (the branded
// texts of content_text.h), the two bars and the start button of the window's display state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/shared_text.h"
#include "common/srw_lock_win32.h"
#include "content/content_report.h"

// Whether a run of the worker is under way, from its Began to its Finished or Stopped.
bool ContentRunGoing();
// Marks a run as under way unless one is; false when one was (the caller starts none).
bool ClaimContentRun();

class ContentPresenter : public ContentReport {
public:
    void Began() override;
    void Progress(const ContentProgress& progress) override;
    void HeldWaitBegins(const char* path, std::size_t length) override;
    void HeldWaiting(const char* path, std::size_t length) override;
    void HeldWaitOver(int resumed) override;
    void Stopped(const ContentStop& stop) override;
    void Finished(uint32_t release, int verify, uint32_t repaired) override;
    void RetryWaitBegins(const char* path) override;
    void RetryWaiting(unsigned secondsLeft, const char* path) override;
    void RetryWaitOver(int resumed) override;
    int Ending() const override;

private:
    // A countdown or a hold borrows the line; the line it found comes back once the last wait
    // is over and the work goes on.
    void Borrow();
    void GiveBack(int resumed);

    SrwLock lock_;
    int32_t borrowed_ = 0;  // waits under way, guarded by lock_
    char before_[SharedText::kSize] = {};
};
