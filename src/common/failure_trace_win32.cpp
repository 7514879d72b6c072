// TraceFailure through OutputDebugStringA.
#include <windows.h>

#include "common/bounded_text.h"
#include "common/failure_trace.h"

void TraceFailure(const char* stage, const char* name, unsigned long code) {
    char line[512];
    // A cut line still tells the stage and most of the name; it is never worth failing for.
    FormatText(line, sizeof line, "launcher: %s failed (%s): error %lu\n", stage, name ? name : "", code);
    OutputDebugStringA(line);
}

void TraceFailure(const char* area, const char* step, const char* name, unsigned long code) {
    char stage[128];
    FormatText(stage, sizeof stage, "%s %s", area, step);
    TraceFailure(stage, name, code);
}
