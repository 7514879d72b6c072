// The background thread of the content mode: brings the game folder to the newest release.
#pragma once

#include <cstdint>

// Thread routine (for _beginthreadex; the argument is ignored). Fetches and checks the release
// manifest of LatestVersion, finds what the folder holds, fetches the missing chunks, builds
// the files, deletes those the installed release had and the new one lacks, then writes the
// kept manifest, the state and the version record, and ends ready. On a failure the status text
// names the file or release, the start button stays disabled and the record is untouched.
unsigned __stdcall ContentWorker(void* unused);

// Starts ContentWorker on its own thread (never joined). False, with the failure shown, when
// the thread could not start.
bool StartContentWorker();
