// Collects what the process writes with OutputDebugStringA while it lives, the way a debug
// output viewer does (the DBWIN_BUFFER section and its two events).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugOutput {
public:
    DebugOutput();
    ~DebugOutput();
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;

    // The lines written so far, each with its line end.
    std::vector<std::string> Lines();
    // Whether some line written so far holds every one of the texts.
    bool Saw(std::initializer_list<const char*> texts);

private:
    void Listen();

    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE section_ = nullptr;
    const char* view_ = nullptr;
    HANDLE stop_ = nullptr;
    std::mutex lock_;
    std::vector<std::string> lines_;
    std::thread listener_;
};
