// Names compared as NTFS compares them: each UTF-16 code unit upper-cased by one table
// (upcase_table.h), nothing else changed; over UTF-8 text, with "/" and "\" as one separator.
#pragma once

#include <cstddef>
#include <cstdint>

// The unit NTFS compares for unit: its simple upper case, or itself.
uint16_t UpcaseUnit(uint16_t unit);

// The next unit of the UTF-8 text (length bytes) from *at, which it advances past it: a
// separator is 0, a BMP code point its upper case, a code point above the BMP itself (NTFS
// leaves surrogates as they are), and a byte that starts no whole, shortest UTF-8 sequence
// stands alone as 0x110000 + the byte, so that every input has one order. *at < length.
uint32_t NextFoldedUnit(const char* text, std::size_t length, std::size_t* at);

// Negative, 0 or positive like memcmp, over the folded units: 0 exactly when NTFS would take
// the two paths for the same name; a separator sorts below everything, so the entries of a
// folder follow its own name.
int CompareFoldedNames(const char* a, std::size_t aLength, const char* b, std::size_t bLength);

// True when text starts, folded, with prefix folded (prefix may be a whole name).
bool FoldedStartsWith(const char* text, std::size_t length, const char* prefix, std::size_t prefixLength);

// True when text ends, folded, with suffix folded.
bool FoldedEndsWith(const char* text, std::size_t length, const char* suffix, std::size_t suffixLength);

// True when path lies inside folder: folded, it is folder, a separator and at least one more unit.
bool FoldedIsInside(const char* folder, std::size_t folderLength, const char* path, std::size_t pathLength);
