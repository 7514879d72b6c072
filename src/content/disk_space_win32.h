// The free space of the game folder's disk, as the content worker checks it before it writes.
#pragma once

#include <cstdint>

// The bytes the calling user may still write on the disk of the current folder (the game
// folder: quotas count), and that disk's allocation unit (0 when unknown). 1, or 0 with the
// failure traced.
int FolderFreeSpace(uint64_t* freeBytes, uint64_t* cluster);
