// Durable replacement for the native build of the portable code: fsync and rename.
#include <unistd.h>

#include <cstdio>

#include "common/file_replace.h"

bool FlushFileToDisk(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool ReplaceFileWith(const char* source, const char* target) { return std::rename(source, target) == 0; }
