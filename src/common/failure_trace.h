// What an operator's debugger sees when a system call fails: the stage, the name it worked on
// and the system's error code, so that a status text such as "Downloading failed - open" can
// be traced to its cause. The status texts themselves never change for it.
#pragma once

// Writes "launcher: STAGE failed (NAME): error CODE" to the debugger output
// (OutputDebugStringA). name may be null. Callers take the code right where the call failed,
// before any other system call can replace it.
void TraceFailure(const char* stage, const char* name, unsigned long code);
// The same with the stage in two words, the area and its step: "launcher: download open
// failed (data.bin): error 12029".
void TraceFailure(const char* area, const char* step, const char* name, unsigned long code);
