// The ANSI character step of the Windows build: the system's own, for its code page.
#include <windows.h>

#include "update/url_split.h"

const char* NextAnsiChar(const char* position) { return CharNextA(position); }
