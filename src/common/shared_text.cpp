// SharedText: the status line's text, safe to write on the worker and read on the window thread.
#include "common/shared_text.h"

#include <cstring>
#include <thread>

#include "common/bounded_text.h"

namespace {

class SpinGuard {
public:
    explicit SpinGuard(std::atomic_flag& flag) : flag_(flag) {
        while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~SpinGuard() { flag_.clear(std::memory_order_release); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    std::atomic_flag& flag_;
};

}  // namespace

SharedText::SharedText(const char* initial) { CopyText(text_, kSize, initial); }

void SharedText::Set(const char* text) {
    SpinGuard guard(busy_);
    CopyText(text_, kSize, text);
}

// Formatting happens outside the lock so the reader is never held up by vsnprintf.
void SharedText::Format(const char* format, ...) {
    char buffer[kSize];
    va_list args;
    va_start(args, format);
    FormatTextV(buffer, kSize, format, args);
    va_end(args);
    Set(buffer);
}

void SharedText::Append(const char* text) {
    SpinGuard guard(busy_);
    AppendText(text_, kSize, text);
}

void SharedText::CopyTo(char* dest, std::size_t destSize) const {
    SpinGuard guard(busy_);
    CopyText(dest, destSize, text_);
}

bool SharedText::Equals(const char* other) const {
    SpinGuard guard(busy_);
    return std::strcmp(text_, other) == 0;
}
