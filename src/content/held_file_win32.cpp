// The waits for held files: a probe of the target that tells a hold from a refusal for good,
// and the tries a second apart, on the worker thread.
#include "content/held_file_win32.h"

#include <windows.h>

#include <string>

#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/shared_text.h"
#include "content/content_text.h"
#include "content/shown_name_win32.h"

namespace {

// A quit must not wait for the next try: the flag is looked at this often.
constexpr uint32_t kQuitLookMs = 100;

int SleepUnlessQuitting(uint32_t ms) {
    while (ms > 0) {
        if (QuitRequested.load()) return 0;
        const uint32_t piece = ms < kQuitLookMs ? ms : kQuitLookMs;
        Sleep(piece);
        ms -= piece;
    }
    return QuitRequested.load() ? 0 : 1;
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
    const wchar_t* target = static_cast<const wchar_t*>(context);
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(target)) return 1;
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? 1 : 0;
}

}  // namespace

bool IsHeldCode(unsigned long code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }

bool IsHeldFailure(const wchar_t* target, unsigned long code) {
    if (IsHeldCode(code)) return true;
    if (code != ERROR_ACCESS_DENIED) return false;
    // Opening writes nothing and leaves the last-write time alone.
    FileHandle probe(CreateFileW(target, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe || IsHeldCode(GetLastError());
}

int TryWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                 HeldAttempt attempt, void* context, unsigned long* error) {
    *error = 0;
    if (attempt(context, error)) return 1;
    if (!IsHeldFailure(target, *error)) return 0;
    char before[SharedText::kSize];
    StatusText.CopyTo(before, sizeof before);
    TraceFailure("content file", "held", std::string(path, length).c_str(), *error);
    const ULONGLONG began = GetTickCount64();
    for (;;) {
        const ULONGLONG waited = GetTickCount64() - began;
        if (waited >= waitMs) break;
        ShowNamedStatus(ContentText.Held, path, length);
        const uint32_t left = static_cast<uint32_t>(waitMs - waited);
        if (!SleepUnlessQuitting(left < kHeldTryMs ? left : kHeldTryMs)) return 0;
        if (attempt(context, error)) {
            StatusText.Set(before);
            return 1;
        }
        if (!IsHeldFailure(target, *error)) return 0;
    }
    TraceFailure("content file", "held past the wait", std::string(path, length).c_str(), *error);
    return 0;
}

int PlaceWhileHeld(WidePartialFile& partial, const wchar_t* target, const char* path, std::size_t length,
                   uint32_t waitMs, uint64_t* lastWrite, unsigned long* error) {
    if (!partial.Flush()) {
        *error = partial.LastError();
        partial.Discard();
        return 0;
    }
    Placing placing = {&partial, target, lastWrite};
    if (TryWhileHeld(target, path, length, waitMs, PlaceOnce, &placing, error)) return 1;
    partial.Discard();
    return 0;
}

int DeleteWhileHeld(const wchar_t* target, const char* path, std::size_t length, uint32_t waitMs,
                    unsigned long* error) {
    return TryWhileHeld(target, path, length, waitMs, DeleteOnce, const_cast<wchar_t*>(target), error);
}
