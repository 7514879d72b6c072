// A 1024-byte text shared between threads: written and copied whole under a short lock.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>

class SharedText {
public:
    static constexpr std::size_t kSize = 1024;

    explicit SharedText(const char* initial = "");

    // Writers never wait for readers beyond one memcpy of at most 1024 bytes.
    void Set(const char* text);
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Append(const char* text);

    // Snapshot into dest (NUL-terminated, cut to destSize - 1 bytes).
    void CopyTo(char* dest, std::size_t destSize) const;
    // Byte-for-byte equality with a NUL-terminated text.
    bool Equals(const char* other) const;

private:
    // A spin lock rather than a mutex: the download worker is abandoned at exit and may still
    // write the status line while static destructors run, so the lock must be one that no
    // destructor ever tears down. It is held for one bounded copy only.
    mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
    char text_[kSize];
};
