// Durable file replacement: flush a written file to disk, then swap it in one step.
#pragma once

#include <cstdio>

// Asks the system to put the file's written bytes on disk. True on success.
bool FlushFileToDisk(std::FILE* file);

// Replaces target by source in one step (target may exist). True on success.
bool ReplaceFileWith(const char* source, const char* target);
