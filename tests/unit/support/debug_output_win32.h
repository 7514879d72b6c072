// What the code under test writes to the debugger output, read the way a debugger reads it:
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C, and a vectored handler sees it first.
#pragma once

#include <string>

// Records every debugger-output line while it lives (one at a time; the worker's thread too).
class DebugOutputRecorder {
public:
    DebugOutputRecorder();
    ~DebugOutputRecorder();
    DebugOutputRecorder(const DebugOutputRecorder&) = delete;
    DebugOutputRecorder& operator=(const DebugOutputRecorder&) = delete;

    // Whether a recorded line starts with prefix.
    bool Saw(const std::string& prefix) const;

private:
    void* handler_;
};
