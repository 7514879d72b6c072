// The debug-output listener of the unit tests.
#include "support/debug_output_win32.h"

#include <cstring>

namespace {

constexpr DWORD kSectionSize = 4096;  // the process id, then the text

}  // namespace

DebugOutput::DebugOutput() {
    bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize, "DBWIN_BUFFER");
    if (section_) view_ = static_cast<const char*>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, kSectionSize));
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (bufferReady_ && dataReady_ && view_ && stop_) listener_ = std::thread([this] { Listen(); });
}

DebugOutput::~DebugOutput() {
    if (stop_) SetEvent(stop_);
    if (listener_.joinable()) listener_.join();
    if (view_) UnmapViewOfFile(view_);
    for (HANDLE h : {section_, dataReady_, bufferReady_, stop_})
        if (h) CloseHandle(h);
}

void DebugOutput::Listen() {
    HANDLE waits[2] = {dataReady_, stop_};
    SetEvent(bufferReady_);
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        const char* text = view_ + sizeof(DWORD);
        {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.emplace_back(text, strnlen(text, kSectionSize - sizeof(DWORD)));
        }
        SetEvent(bufferReady_);
    }
}

std::vector<std::string> DebugOutput::Lines() {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
}

bool DebugOutput::Saw(std::initializer_list<const char*> texts) {
    for (const std::string& line : Lines()) {
        bool all = true;
        for (const char* text : texts) all = all && line.find(text) != std::string::npos;
        if (all) return true;
    }
    return false;
}
