// PartialFile and CommitFile over CreateFileA (CREATE_NEW), the delete disposition,
// FlushFileBuffers, and MoveFileExA or a rename through a write-through handle.
#include "common/partial_file_win32.h"

#include <cstdlib>
#include <cstring>

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

// A read-only, hidden or system target refuses the move; only then are its attributes cleared
// and the move made again. Asking first would cost every file a lookup and a write of its
// attributes, which counts when an archive holds thousands.
bool MoveOver(const char* written, const char* target) {
    if (ReplaceFileWith(written, target)) return true;
    const DWORD code = GetLastError();
    constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD attributes = code == ERROR_ACCESS_DENIED ? GetFileAttributesA(target) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & kInTheWay)) {
        SetLastError(code);
        return false;
    }
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    return ReplaceFileWith(written, target);
}

// Moves the still open file over target through its own handle, one call where a move by name
// opens the file and its target again. Made only through a handle opened write-through, so the
// rename is written through as MOVEFILE_WRITE_THROUGH's is. False when the system refuses (a
// read-only target, a name that does not convert): the caller then moves it by name.
bool RenameOpenFile(HANDLE file, const char* target) {
    constexpr DWORD kPathChars = 1024;
    WCHAR wide[PartialFile::kNameSize];
    WCHAR full[kPathChars];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, target, -1, wide, PartialFile::kNameSize)) return false;
    const DWORD length = GetFullPathNameW(wide, kPathChars, full, nullptr);
    if (length == 0 || length >= kPathChars) return false;
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + kPathChars * sizeof(WCHAR)] = {};
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = length * sizeof(WCHAR);
    std::memcpy(info->FileName, full, (length + 1) * sizeof(WCHAR));
    return SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR))) != 0;
}

// The flush comes first and outside the lock: it is the slow part, and a quit meanwhile only
// ends a file the system then removes. byHandle: the handle was opened write-through.
CommitResult Commit(FileHandle& file, const char* written, const char* target, const char* area, bool marked,
                    bool byHandle) {
    if (!FlushFileBuffers(file.Get())) return Abandon(file, written, target, area, "flush", GetLastError());
    UnmarkedGuard guard;
    if (marked && !MarkForDeletion(file.Get(), false))
        return Abandon(file, written, target, area, "keep", GetLastError());
    if (byHandle && RenameOpenFile(file.Get(), target)) {
        file.Reset();
        return kCommitted;
    }
    if (!CloseHandle(file.Release())) return Abandon(file, written, target, area, "close", GetLastError());
    if (!MoveOver(written, target)) {
        const DWORD code = GetLastError();
        DeleteFileA(written);
        TraceFailure(area, "move", target, code);
        return kCommitNotMoved;
    }
    return kCommitted;
}

}  // namespace

CommitResult CommitFile(FileHandle file, const char* written, const char* target, const char* area) {
    return Commit(file, written, target, area, false, false);
}

bool PartialFile::Create(const char* target, bool writeThrough) { return CreateNamed("", target, writeThrough); }

bool PartialFile::CreateIn(const char* folder, const char* target, bool writeThrough) {
    const char* part = target;
    for (const char* p = target; *p; ++p)
        if (*p == '/' || *p == '\\') part = p + 1;
    char prefix[kNameSize];
    if (!FormatText(prefix, sizeof prefix, "%s\\", folder)) {
        error_ = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return CreateNamed(prefix, part, writeThrough);
}

bool PartialFile::CreateNamed(const char* prefix, const char* base, bool writeThrough) {
    Discard();
    for (int n = 0; n < kMaxCandidates; ++n) {
        if (!FormatText(name_, sizeof name_, "%s%s.~%d%s", prefix, base, n, kPartialSuffix)) {
            error_ = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        UnmarkedGuard guard;
        file_.Reset(CreateFileA(name_, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0),
                                nullptr));
        if (file_) {
            writeThrough_ = writeThrough;
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
    const CommitResult result = ::Commit(file_, name_, target, area_, marked_, writeThrough_);
    marked_ = false;
    writeThrough_ = false;
    name_[0] = '\0';
    return result;
}

void PartialFile::Discard() {
    if (!file_) return;
    file_.Reset();
    if (!marked_) DeleteFileA(name_);
    marked_ = false;
    writeThrough_ = false;
    name_[0] = '\0';
}
