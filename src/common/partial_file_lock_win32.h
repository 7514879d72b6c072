// What every partial file shares, whatever the width of its name: the lock an exit waits on
// while a partial file is without its deletion mark, the mark itself, and which failures of an
// exclusive creation only mean that the candidate name is taken.
#pragma once

#include <windows.h>

// Held while a partial file exists without its deletion mark (from its creation to the mark,
// and from lifting the mark to the move that commits it), and taken for good when the process
// exits, while an abandoned worker may still run: an exit never falls in between, where it
// would leave a file under its partial name for good. The lock is an SRW lock, which is never
// torn down, so a worker may still reach it while the process ends.
class UnmarkedGuard {
public:
    UnmarkedGuard();
    ~UnmarkedGuard();
    UnmarkedGuard(const UnmarkedGuard&) = delete;
    UnmarkedGuard& operator=(const UnmarkedGuard&) = delete;
};

// Sets (remove true) or lifts the delete disposition of an open file.
bool MarkForDeletion(HANDLE file, bool remove);

// A name taken by a file, a folder or a file about to vanish: the next candidate may be free.
bool PartialNameTaken(DWORD error);
