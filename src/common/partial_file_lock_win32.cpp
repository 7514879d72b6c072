// The partial files' shared lock, taken for good at exit, and their delete disposition.
#include "common/partial_file_lock_win32.h"

#include <cstdlib>

namespace {

SRWLOCK UnmarkedLock = SRWLOCK_INIT;

void HoldAtExit() { AcquireSRWLockExclusive(&UnmarkedLock); }
const int HoldAtExitRegistered = std::atexit(HoldAtExit);

}  // namespace

UnmarkedGuard::UnmarkedGuard() { AcquireSRWLockExclusive(&UnmarkedLock); }
UnmarkedGuard::~UnmarkedGuard() { ReleaseSRWLockExclusive(&UnmarkedLock); }

bool MarkForDeletion(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(remove ? TRUE : FALSE)};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool PartialNameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}
