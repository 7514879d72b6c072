// Release paths as the status line shows them: the window draws ANSI text, the paths are UTF-8.
#pragma once

#include <cstddef>

// The text of length bytes of UTF-8 at path in code page codePage (CP_ACP: the window's), '/'
// kept, a character the code page lacks shown as '?', cut to whole characters so that it and
// its terminator fit size bytes. 1, or 0 when the bytes are not whole UTF-8 or longer than a
// release path: then their ASCII stands, '?' for every other byte.
int ShownNameIn(unsigned codePage, const char* path, std::size_t length, char* out, std::size_t size);

// The status line's text: format (a branded text whose first conversion is the %s of the
// name, then up to two %u) with the path shown in the window's code page, the name cut so
// that the whole line fits the status buffer.
void ShowNamedStatus(const char* format, const char* path, std::size_t length, unsigned first = 0,
                     unsigned second = 0);
