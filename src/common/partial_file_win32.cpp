// PartialFile and CommitFile over CreateFileA (CREATE_NEW), the delete disposition,
// FlushFileBuffers and MoveFileExA.
#include "common/partial_file_win32.h"

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/file_replace.h"
#include "common/partial_file_lock_win32.h"

namespace {

constexpr const char* kPartialSuffix = ".part";

// Closes and removes a file that is not committed, and says why.
CommitResult Abandon(FileHandle& file, const char* written, const char* target, const char* area,
                     const char* step, DWORD code) {
    file.Reset();
    DeleteFileA(written);
    TraceFailure(area, step, target, code);
    return kCommitNotOnDisk;
}

// The flush comes first and outside the lock: it is the slow part, and a quit meanwhile only
// ends a file the system then removes.
CommitResult Commit(FileHandle& file, const char* written, const char* target, const char* area, bool marked) {
    if (!FlushFileBuffers(file.Get())) return Abandon(file, written, target, area, "flush", GetLastError());
    UnmarkedGuard guard;
    if (marked && !MarkForDeletion(file.Get(), false))
        return Abandon(file, written, target, area, "keep", GetLastError());
    if (!CloseHandle(file.Release())) return Abandon(file, written, target, area, "close", GetLastError());
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    if (!ReplaceFileWith(written, target)) {
        const DWORD code = GetLastError();
        DeleteFileA(written);
        TraceFailure(area, "move", target, code);
        return kCommitNotMoved;
    }
    return kCommitted;
}

}  // namespace

CommitResult CommitFile(FileHandle file, const char* written, const char* target, const char* area) {
    return Commit(file, written, target, area, false);
}

bool PartialFile::Create(const char* target) {
    Discard();
    for (int n = 0; n < kMaxCandidates; ++n) {
        if (!FormatText(name_, sizeof name_, "%s.~%d%s", target, n, kPartialSuffix)) {
            error_ = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        UnmarkedGuard guard;
        file_.Reset(CreateFileA(name_, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) {
            // Without the mark (a file system that refuses it) Discard deletes it by name.
            marked_ = MarkForDeletion(file_.Get(), true);
            return true;
        }
        error_ = GetLastError();
        if (!PartialNameTaken(error_)) break;
    }
    name_[0] = '\0';
    return false;
}

bool PartialFile::Write(const void* data, unsigned long size) {
    DWORD written = 0;
    const bool ok = WriteFile(file_.Get(), data, size, &written, nullptr) != 0;
    if (ok && written == size) return true;
    error_ = ok ? ERROR_DISK_FULL : GetLastError();
    TraceFailure(area_, "write", name_, error_);
    return false;
}

CommitResult PartialFile::Commit(const char* target) {
    const CommitResult result = ::Commit(file_, name_, target, area_, marked_);
    marked_ = false;
    name_[0] = '\0';
    return result;
}

void PartialFile::Discard() {
    if (!file_) return;
    file_.Reset();
    if (!marked_) DeleteFileA(name_);
    marked_ = false;
    name_[0] = '\0';
}
