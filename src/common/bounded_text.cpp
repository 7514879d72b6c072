// Bounded copy, append and format into fixed text buffers.
#include "common/bounded_text.h"

#include <cstdio>
#include <cstring>

bool CopyText(char* dest, std::size_t size, const char* src) {
    if (size == 0) return false;
    std::size_t i = 0;
    for (; i + 1 < size && src[i] != '\0'; ++i) dest[i] = src[i];
    dest[i] = '\0';
    return src[i] == '\0';
}

bool AppendText(char* dest, std::size_t size, const char* src) {
    std::size_t used = TextLength(dest, size);
    if (used >= size) return false;
    return CopyText(dest + used, size - used, src);
}

bool FormatTextV(char* dest, std::size_t size, const char* format, va_list args) {
    if (size == 0) return false;
    int written = std::vsnprintf(dest, size, format, args);
    if (written < 0) {
        dest[0] = '\0';
        return false;
    }
    return static_cast<std::size_t>(written) < size;
}

bool FormatText(char* dest, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool fitted = FormatTextV(dest, size, format, args);
    va_end(args);
    return fitted;
}

std::size_t TextLength(const char* text, std::size_t size) {
    const void* nul = std::memchr(text, '\0', size);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : size;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}
