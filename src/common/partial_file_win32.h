// Files written beside the file they will replace, under a name no other file has, and moved
// over it only once whole and on disk.
#pragma once

#include <cstddef>

#include "common/win32_handle.h"

// How CommitFile ended. After a failure the target is as it was and the written file is gone.
enum CommitResult : int {
    kCommitted = 0,
    kCommitNotOnDisk = 1,  // the bytes could not be put on disk, or the file not closed
    kCommitNotMoved = 2,   // the file could not take the target's place
};

// Puts the file's bytes on disk (FlushFileBuffers), closes it, then moves it over target in one
// write-through step; a read-only or hidden target is replaced like any other. A file whose
// bytes are not known to be on disk is never moved: after a power cut the target would be
// empty while the version record already names its step. area names the caller in the
// debugger output of a failure.
CommitResult CommitFile(FileHandle file, const char* written, const char* target, const char* area);

// A new file "TARGET.~N.part" beside its target, for the first N from 0 that no file or folder
// has taken (or "FOLDER\\NAME.~N.part", CreateIn). It is created exclusively, so an existing
// file of that name (a client file, an entry unpacked a moment ago) is never emptied, and it
// sits in the target's folder or one inside it, so the move that commits it stays on one volume. Until it is committed it is marked for deletion:
// the system removes it when it is discarded and when the process ends in any way, killed
// included, so a later run never meets it; an exit waits for a commit under way. Only a power
// cut (or a kill within a commit) can leave one behind, and that one is never taken for
// anything: its name is simply passed over.
class PartialFile {
public:
    static constexpr int kMaxCandidates = 100;
    // A 256-byte name, a staging folder's name and ".~99.part".
    static constexpr std::size_t kNameSize = 300;

    explicit PartialFile(const char* area) : area_(area) {}
    ~PartialFile() { Discard(); }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // False when no candidate name was free or the folder refused the file; LastError() holds
    // the code of the last attempt (ERROR_PATH_NOT_FOUND when the target's folder is missing).
    // writeThrough: every write goes straight through to the disk (FILE_FLAG_WRITE_THROUGH),
    // which costs a small file nothing its flush would not, and lets Commit rename the file
    // through its own handle, written through, instead of opening it and its target again.
    bool Create(const char* target, bool writeThrough = false);
    // The same file in folder instead, named after target's last component
    // ("FOLDER\\a.bin.~N.part" for "Data/a.bin"); folder must be on target's volume.
    bool CreateIn(const char* folder, const char* target, bool writeThrough = false);
    // Appends size bytes; false when fewer were written (a full disk, for instance).
    bool Write(const void* data, unsigned long size);
    // Keeps the file and commits it over target (CommitFile); a file created write-through is
    // renamed through its own handle, or by name where the system refuses that (a read-only
    // target). The object is empty afterwards.
    CommitResult Commit(const char* target);
    // Closes and removes the file, if there is one.
    void Discard();

    const char* Name() const { return name_; }
    const char* Area() const { return area_; }
    unsigned long LastError() const { return error_; }

private:
    bool CreateNamed(const char* prefix, const char* base, bool writeThrough);

    const char* area_;
    FileHandle file_;
    bool marked_ = false;
    bool writeThrough_ = false;
    unsigned long error_ = 0;
    char name_[kNameSize] = {};
};
