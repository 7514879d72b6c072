// SharedText: the status line's text, safe to write on the worker and read on the window thread.
#include "common/shared_text.h"

#include <cstring>

#include "common/bounded_text.h"

SharedText::SharedText(const char* initial) { CopyText(text_, kSize, initial); }

void SharedText::Set(const char* text) {
    std::lock_guard<std::mutex> guard(lock_);
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
    std::lock_guard<std::mutex> guard(lock_);
    AppendText(text_, kSize, text);
}

void SharedText::AppendFormat(const char* format, ...) {
    char buffer[kSize];
    va_list args;
    va_start(args, format);
    FormatTextV(buffer, kSize, format, args);
    va_end(args);
    Append(buffer);
}

void SharedText::CopyTo(char* dest, std::size_t destSize) const {
    std::lock_guard<std::mutex> guard(lock_);
    CopyText(dest, destSize, text_);
}

bool SharedText::Equals(const char* other) const {
    std::lock_guard<std::mutex> guard(lock_);
    return std::strcmp(text_, other) == 0;
}
