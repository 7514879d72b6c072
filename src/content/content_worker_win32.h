// The background thread of the content mode: brings the game folder to the newest release.
#pragma once

#include <cstdint>

// Thread routine (for _beginthreadex). Fetches and checks the release manifest of LatestVersion,
// finds what the folder holds, fetches the missing chunks, builds the files, deletes those the
// installed release had and the new one lacks, then writes the kept manifest, the state and the
// version record, and ends ready. On a failure the status text names the file or release, the
// start button stays disabled and the record is untouched. The argument, an intptr_t, is
// non-zero for a verify: no stamp vouches for any file, every one is hashed, and the end says
// how many files were repaired.
unsigned __stdcall ContentWorker(void* verify);

// Starts ContentWorker on its own thread (never joined), a verify when verify is true. False,
// with the failure shown, when the thread could not start.
bool StartContentWorker(bool verify);
