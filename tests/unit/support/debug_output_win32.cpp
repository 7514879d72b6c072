// DebugOutputRecorder over a vectored exception handler.
#include "support/debug_output_win32.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

std::mutex Lock;
std::vector<std::string> Recorded;

LONG CALLBACK Record(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        std::lock_guard<std::mutex> guard(Lock);
        Recorded.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    }
    // The system's own handling goes on: a debugger attached to the tests still gets the line.
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugOutputRecorder::DebugOutputRecorder() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Recorded.clear();
    }
    handler_ = AddVectoredExceptionHandler(1, Record);
}

DebugOutputRecorder::~DebugOutputRecorder() { RemoveVectoredExceptionHandler(handler_); }

bool DebugOutputRecorder::Saw(const std::string& prefix) const {
    std::lock_guard<std::mutex> guard(Lock);
    for (const std::string& line : Recorded)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}
