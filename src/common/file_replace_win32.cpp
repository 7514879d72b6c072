// Durable replacement on Windows: _commit, then MoveFileEx with write-through.
#include <windows.h>
#include <io.h>

#include "common/file_replace.h"

bool FlushFileToDisk(std::FILE* file) { return _commit(_fileno(file)) == 0; }

bool ReplaceFileWith(const char* source, const char* target) {
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
