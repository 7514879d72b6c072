// WidePartialFile through the game folder's door (an exclusive creation, the move over the
// target), the delete disposition and FlushFileBuffers.
#include "content/wide_partial_file_win32.h"

#include <cwchar>

#include "common/failure_trace.h"
#include "common/partial_file_lock_win32.h"
#include "paths/game_folder_win32.h"

namespace {

void Trace(const char* area, const char* step, DWORD code) { TraceFailure(area, step, "content file", code); }

}  // namespace

bool WidePartialFile::Create(const wchar_t* target) {
    Discard();
    for (int n = 0; n < PartialFile::kMaxCandidates; ++n) {
        const int length = std::swprintf(name_, kWidePathSize, L"%ls.~%d.part", target, n);
        if (length <= 0 || static_cast<std::size_t>(length) >= kWidePathSize) {
            error_ = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        UnmarkedGuard guard;
        if (OpenGameFile(name_, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, &file_, &error_)) {
            marked_ = MarkForDeletion(file_.Get(), true);
            written_ = 0;
            return true;
        }
        if (!PartialNameTaken(error_)) break;
    }
    name_[0] = L'\0';
    return false;
}

bool WidePartialFile::Write(const void* data, unsigned long size) {
    DWORD written = 0;
    const bool ok = WriteFile(file_.Get(), data, size, &written, nullptr) != 0;
    if (ok && written == size) {
        written_ += size;
        return true;
    }
    error_ = ok ? ERROR_DISK_FULL : GetLastError();
    Trace(area_, "write", error_);
    return false;
}

// A positioned read moves the file pointer, so it is put back at the end for the next write.
bool WidePartialFile::ReadAt(uint64_t offset, void* data, unsigned long size) {
    if (offset + size > written_) return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const bool ok = ReadFile(file_.Get(), data, size, &got, &at) != 0 && got == size;
    if (!ok) error_ = GetLastError();
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    return SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN) && ok;
}

CommitResult WidePartialFile::Commit(const wchar_t* target, uint64_t* lastWrite) {
    if (!Flush()) {
        Discard();
        return kCommitNotOnDisk;
    }
    if (!MoveOver(target, lastWrite)) {
        Trace(area_, "move", error_);
        Discard();
        return kCommitNotMoved;
    }
    return kCommitted;
}

bool WidePartialFile::Flush() {
    if (FlushFileBuffers(file_.Get())) return true;
    error_ = GetLastError();
    Trace(area_, "flush", error_);
    return false;
}

bool WidePartialFile::MoveOver(const wchar_t* target, uint64_t* lastWrite) {
    bool moved = false;
    {
        UnmarkedGuard guard;
        if (marked_ && !MarkForDeletion(file_.Get(), false)) {
            error_ = GetLastError();
            return false;
        }
        marked_ = false;
        if (file_ && !CloseHandle(file_.Release())) {
            error_ = GetLastError();
            return false;  // Discard deletes it by its name
        }
        moved = MoveGameFile(name_, target, &error_) != 0;
        if (!moved) {
            // Opened and marked again under the same lock: an exit never finds it unmarked.
            unsigned long reopened = 0;
            if (!OpenGameFile(name_, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, &file_, &reopened))
                file_.Reset();
            marked_ = file_ && MarkForDeletion(file_.Get(), true);
            return false;
        }
    }
    name_[0] = L'\0';
    if (lastWrite) {
        uint64_t size = 0;
        if (!WideFileStamp(target, &size, lastWrite)) *lastWrite = 0;
    }
    return true;
}

void WidePartialFile::Discard() {
    if (!name_[0]) return;
    file_.Reset();  // a marked file goes with its handle
    unsigned long ignored = 0;
    if (!marked_) DeleteGameFile(name_, &ignored);
    marked_ = false;
    name_[0] = L'\0';
}
