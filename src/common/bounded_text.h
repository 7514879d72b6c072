// Bounded text helpers: every write into a fixed buffer goes through these.
#pragma once

#include <cstdarg>
#include <cstddef>

// Copies src into dest (size bytes, always NUL-terminated when size > 0).
// Returns true when the whole text fitted, false when it was cut.
bool CopyText(char* dest, std::size_t size, const char* src);

// Appends src to the text already in dest. Returns false when cut.
bool AppendText(char* dest, std::size_t size, const char* src);

// printf into dest; returns false when the result was cut (or the format failed).
bool FormatText(char* dest, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool FormatTextV(char* dest, std::size_t size, const char* format, va_list args);

// Bounded length: the index of the first NUL, or size when there is none.
std::size_t TextLength(const char* text, std::size_t size);

// ASCII case-insensitive equality.
bool EqualsIgnoreCase(const char* a, const char* b);

template <std::size_t N>
inline bool CopyText(char (&dest)[N], const char* src) { return CopyText(dest, N, src); }
template <std::size_t N>
inline bool AppendText(char (&dest)[N], const char* src) { return AppendText(dest, N, src); }
