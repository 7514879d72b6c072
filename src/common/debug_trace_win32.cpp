// TraceFailure over OutputDebugStringA.
#include <windows.h>

#include "common/bounded_text.h"
#include "common/debug_trace.h"

void TraceFailure(const char* area, const char* step, const char* name, unsigned long code) {
    char line[512];  // names are under 300 characters
    FormatText(line, sizeof line, "launcher: %s %s failed (%s): %lu\n", area, step, name, code);
    OutputDebugStringA(line);
}
