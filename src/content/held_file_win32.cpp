// The waits for held files: a probe of the target that tells a hold from a refusal for good,
// and the tries a second apart, on the worker thread.
#include "content/held_file_win32.h"

#include <windows.h>

#include <string>

#include "common/failure_trace.h"
#include "paths/game_folder_win32.h"

namespace {

// A quit must not wait for the next try: the report is asked this often.
constexpr uint32_t kQuitLookMs = 100;

int SleepUnlessEnding(uint32_t ms, const ContentReport& report) {
    while (ms > 0) {
        if (report.Ending()) return 0;
        const uint32_t piece = ms < kQuitLookMs ? ms : kQuitLookMs;
        Sleep(piece);
        ms -= piece;
    }
    return report.Ending() ? 0 : 1;
}

struct Placing {
    WidePartialFile* Partial;
    const wchar_t* Target;
    uint64_t* LastWrite;
};

int PlaceOnce(void* context, unsigned long* error) {
    Placing& p = *static_cast<Placing*>(context);
    if (p.Partial->MoveOver(p.Target, p.LastWrite)) return 1;
    *error = p.Partial->LastError();
    return 0;
}

int DeleteOnce(void* context, unsigned long* error) {
    return DeleteGameFile(static_cast<const wchar_t*>(context), error);
}

}  // namespace

bool IsHeldCode(unsigned long code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }

bool IsHeldFailure(const wchar_t* target, unsigned long code) {
    if (IsHeldCode(code)) return true;
    if (code != ERROR_ACCESS_DENIED) return false;
    // Opening writes nothing and leaves the last-write time alone.
    // A link in its name is no hold: refused for good.
    FileHandle probe;
    unsigned long refusal = 0;
    return OpenGameFile(target, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, &probe, &refusal) ||
           IsHeldCode(refusal);
}

int TryWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                 HeldAttempt attempt, void* context, unsigned long* error, ContentReport& report) {
    *error = 0;
    if (attempt(context, error)) return 1;
    if (!IsHeldFailure(target, *error)) return 0;
    report.HeldWaitBegins(path, length);
    TraceFailure("content file", "held", std::string(path, length).c_str(), *error);
    const ULONGLONG began = GetTickCount64();
    for (;;) {
        const ULONGLONG waited = GetTickCount64() - began;
        if (waited >= waitMs) break;
        report.HeldWaiting(path, length);
        const uint32_t left = static_cast<uint32_t>(waitMs - waited);
        const int slept = SleepUnlessEnding(left < kHeldTryMs ? left : kHeldTryMs, report);
        const int done = slept && attempt(context, error);
        // An ending launcher and a refusal that is no hold end the wait too, but resume nothing.
        if (done || !slept || !IsHeldFailure(target, *error)) {
            report.HeldWaitOver(done);
            return done;
        }
    }
    TraceFailure("content file", "held past the wait", std::string(path, length).c_str(), *error);
    report.HeldWaitOver(0);
    return 0;
}

int PlaceWhileHeld(WidePartialFile& partial, const wchar_t* target, const char* path, std::size_t length,
                   uint32_t waitMs, uint64_t* lastWrite, unsigned long* error, ContentReport& report) {
    if (!partial.Flush()) {
        *error = partial.LastError();
        partial.Discard();
        return 0;
    }
    Placing placing = {&partial, target, lastWrite};
    if (TryWhileHeld(target, path, length, waitMs, PlaceOnce, &placing, error, report)) return 1;
    partial.Discard();
    return 0;
}

int DeleteWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                    unsigned long* error, ContentReport& report) {
    return TryWhileHeld(target, path, length, waitMs, DeleteOnce, const_cast<wchar_t*>(target), error, report);
}
