// Names shaped like the 8.3 aliases NTFS gives long names ("DATAFI~1", "CONTEN~1.STA"): such a
// name may open another file than the one it spells, so names we are handed never take it.
#pragma once

#include <cstddef>

// True when component (length bytes of UTF-8, no separator) has the alias shape: a stem of 1
// to 8 characters (code points) without ".", ending in "~" and one or more ASCII digits, then
// either nothing or "." and an extension of 1 to 3 characters without ".". Characters, not
// bytes, because Windows makes aliases of non-ASCII names too; any letter case.
// tools/content_paths.py applies the same rule.
bool IsShortNameAliasShape(const char* component, std::size_t length);

// True when some component of path ("/" or "\" between them) has the alias shape.
bool HasShortNameAliasShape(const char* path, std::size_t length);
