// The game folder as a chunk source: a chunk read where the plan found it and hashed as it is
// read, the source behind taking over when the file no longer holds it.
#include "content/local_chunks_win32.h"

#include <windows.h>

#include "common/failure_trace.h"
#include "content/wide_path_win32.h"
#include "content_format/chunk_check_win32.h"
#include "paths/game_folder_win32.h"

namespace {

// The path a source names: (pointer, length) into a manifest or the cut list.
void SourcePath(const ReleaseManifest& release, const FolderSurvey& survey, const ContentChunkSource& where,
                const char** path, std::size_t* length) {
    if (where.Kind == kSourceCutFile) {
        *path = survey.CutPaths[where.File].data();
        *length = survey.CutPaths[where.File].size();
        return;
    }
    const ReleaseFile f = ReleaseFileAt(where.Kind == kSourceOldFile ? survey.OldRelease : release, where.File);
    *path = f.Path;
    *length = f.PathLength;
}

bool ReadAt(const FileHandle& file, uint64_t offset, uint8_t* raw, uint32_t size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(file.Get(), raw, size, &got, &at) && got == size;
}

}  // namespace

void LocalChunks::Building(uint32_t file, WidePartialFile* partial) {
    building_ = file;
    partial_ = partial;
}

void LocalChunks::Close() { source_.Reset(); }

int LocalChunks::Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) {
    const ReleaseChunk c = ReleaseChunkAt(release_, chunk);
    bool read = false;
    if (where.Kind == kSourceBuilt && where.File == building_ && partial_) {
        read = partial_->ReadAt(where.Offset, raw, c.RawSize);
    } else {
        if (!source_ || sourceKind_ != where.Kind || sourceFile_ != where.File) {
            const char* path;
            std::size_t length;
            SourcePath(release_, survey_, where, &path, &length);
            wchar_t wide[kWidePathSize];
            unsigned long error = 0;
            if (!WidePathOf(path, length, wide, kWidePathSize) ||
                !OpenGameFile(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0,
                              &source_, &error))
                source_.Reset();
            sourceKind_ = where.Kind;
            sourceFile_ = where.File;
        }
        read = source_ && ReadAt(source_, where.Offset, raw, c.RawSize);
    }
    if (read && ChunkHashMatches(raw, c.RawSize, c.Sha256)) return 1;
    TraceFailure("content chunk", "local", "changed since cut", 0);
    return behind_.Take(chunk, where, raw);
}
