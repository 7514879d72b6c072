// Durable file replacement: flush a written file to disk, then swap it in one step.
#pragma once

#include <cstdio>

// A file being written beside the one it will replace carries this suffix until it is whole;
// one left by a launcher that was ended meanwhile is overwritten by the next attempt.
constexpr const char* kPartialSuffix = ".part";

// Asks the system to put the file's written bytes on disk. True on success.
bool FlushFileToDisk(std::FILE* file);

// Replaces target by source in one step (target may exist). True on success.
bool ReplaceFileWith(const char* source, const char* target);
