// The delete step of a content run: the installed release's files the new one no longer lists,
// deleted only when they are still what the launcher put there, and the folders they emptied.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "paths/game_folder_win32.h"

struct ContentRun;

// What the run's deletions have done so far: the plan's deletions already settled (deleted or
// kept), the identities of the files at the new release's paths once a deletion needed them,
// and the folders above deleted files, which are removed at the end when empty.
struct OldRemovals {
    std::vector<uint8_t> Settled;            // per plan deletion
    std::vector<uint32_t> Blockers;          // the deletions marked BeforeBuilding
    std::vector<FileIdentity> NewFiles;      // sorted; filled by the first deletion
    bool NewFilesKnown = false;
    std::unique_ptr<uint8_t[]> Bytes;        // one chunk of the old release, ChunkMax
    std::vector<std::wstring> Folders;       // above each deleted file
};

// Just before newFile is built: deletes the old files that stand in its way (a file where one of
// its folders must be, or files under a folder at its path) and the folders they emptied.
// What cannot go stays, and placing the new file then fails on it.
void ClearWayFor(ContentRun& run, uint32_t newFile);

// Once every new file is in place: deletes the other old files the new release no longer lists,
// then every folder they emptied, deepest first. A file another program holds is waited for
// once; should the wait run out, the files after it get one try each. A file is kept (and the
// run goes on) when its bytes are no longer the old release's, when it is the same file as one
// of the new release's, when a link stands on its way, and when it is the running program.
void DeleteOldFiles(ContentRun& run);
