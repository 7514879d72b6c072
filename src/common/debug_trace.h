// Why a call failed, for the operator: the status line says what failed in the player's words,
// the debugger output (DebugView, a debugger) says which call and its system error code.
#pragma once

// Writes "launcher: <area> <step> failed (<name>): <code>" to the debugger output, for
// example "launcher: download open failed (data.bin): 12029". Capture the code right after the
// failed call: anything in between may change GetLastError().
void TraceFailure(const char* area, const char* step, const char* name, unsigned long code);
