// The content worker's partial files: a file built beside its target under a name no other
// file has, by its UTF-16 name, and moved over the target only once whole and on disk.
#pragma once

#include <cstdint>

#include "common/partial_file_win32.h"
#include "common/win32_handle.h"
#include "content/wide_path_win32.h"

// common/partial_file_win32.h's rules with wide names: "TARGET.~N.part" for the first free N,
// created exclusively, marked for deletion until committed (a kill leaves nothing), flushed,
// then moved over the target in one write-through step.
class WidePartialFile {
public:
    explicit WidePartialFile(const char* area) : area_(area) {}
    ~WidePartialFile() { Discard(); }
    WidePartialFile(const WidePartialFile&) = delete;
    WidePartialFile& operator=(const WidePartialFile&) = delete;

    // False when no name was free or the folder refused; LastError() holds the code.
    bool Create(const wchar_t* target);
    bool Write(const void* data, unsigned long size);
    // Reads size bytes at offset of what was written so far (a chunk the file itself holds).
    bool ReadAt(uint64_t offset, void* data, unsigned long size);
    // Flushes, keeps and moves the file over target; *lastWrite (may be null) receives the
    // target's last-write time after the move. The object is empty afterwards.
    CommitResult Commit(const wchar_t* target, uint64_t* lastWrite);
    // Commit in two steps, for a move that may be tried again: Flush puts the written bytes on
    // disk; MoveOver lifts the mark, closes and moves the file over target, and after a failed
    // move opens and marks the partial again, so that it stays whole for another try and a
    // kill still leaves nothing. MoveOver's failures are not traced (the caller knows whether
    // one is final); after a success the object is empty.
    bool Flush();
    bool MoveOver(const wchar_t* target, uint64_t* lastWrite);
    void Discard();

    const wchar_t* Name() const { return name_; }
    unsigned long LastError() const { return error_; }

private:
    const char* area_;
    FileHandle file_;
    bool marked_ = false;
    unsigned long error_ = 0;
    uint64_t written_ = 0;
    wchar_t name_[kWidePathSize] = {};
};
