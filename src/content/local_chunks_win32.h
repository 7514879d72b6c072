// Chunks read from the files in the game folder: an old release file the state vouches for, a
// file the survey cut, a new file built earlier in this run, or the file being built itself.
#pragma once

#include <cstdint>

#include "common/win32_handle.h"
#include "content/chunk_source.h"
#include "content/content_survey_win32.h"
#include "content/wide_partial_file_win32.h"
#include "content_plan/content_plan.h"

class LocalChunks : public ChunkSource {
public:
    LocalChunks(const ReleaseManifest& release, const FolderSurvey& survey, ChunkSource& behind)
        : release_(release), survey_(survey), behind_(behind) {}
    // The new file being built and its partial file: a kSourceBuilt source naming it reads the
    // bytes written so far.
    void Building(uint32_t file, WidePartialFile* partial);
    // Closes the file read last, kept open between its chunks: the old file at a path may be
    // the one about to be replaced.
    void Close();
    // Reads the chunk where the plan says and hashes it as it is read; a file that no longer
    // holds it (changed since the survey, or gone) hands it to the source behind.
    int Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) override;

private:
    const ReleaseManifest& release_;
    const FolderSurvey& survey_;
    ChunkSource& behind_;
    uint32_t building_ = 0;
    WidePartialFile* partial_ = nullptr;
    FileHandle source_;
    int sourceKind_ = -1;
    uint32_t sourceFile_ = 0;
};
