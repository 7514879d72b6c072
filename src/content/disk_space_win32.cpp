// FolderFreeSpace over GetDiskFreeSpaceExW on the current folder's full wide path: the game
// folder's name may hold characters the ANSI code page lacks (the content paths are opened by
// their UTF-16 names for the same reason), and a folder, unlike the drive's root, follows a
// volume mounted inside the drive.
#include "content/disk_space_win32.h"

#include <windows.h>

#include "common/failure_trace.h"
#include "content/wide_path_win32.h"

// disk_need.cpp names the full-disk codes by number, without the system's headers.
static_assert(ERROR_HANDLE_DISK_FULL == 39 && ERROR_DISK_FULL == 112, "the full-disk codes");

int FolderFreeSpace(uint64_t* freeBytes, uint64_t* cluster) {
    *freeBytes = 0;
    *cluster = 0;
    wchar_t folder[kWidePathSize];
    const DWORD length = GetCurrentDirectoryW(kWidePathSize, folder);
    if (length == 0 || length >= kWidePathSize) {
        TraceFailure("content disk", "folder", "current directory", length ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return 0;
    }
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) {
        TraceFailure("content disk", "free space", "game folder", GetLastError());
        return 0;
    }
    *freeBytes = available.QuadPart;
    wchar_t root[kWidePathSize];
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (GetVolumePathNameW(folder, root, kWidePathSize) &&
        GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        *cluster = uint64_t{sectorsPerCluster} * bytesPerSector;
    return 1;
}
