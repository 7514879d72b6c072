// Cutting a local file into the chunks a release would make of it, each hashed as it is read.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "content_format/content_chunker.h"
#include "content_plan/content_plan.h"

// Files are read in blocks of this size, so a file of any size costs the same memory.
constexpr uint32_t kLocalReadBlock = 1u << 20;

// Reads the file named path once from start to end and appends its chunks (offsets from 0,
// SHA-256 of each) to *chunks. 1, or 0 when it could not be opened or read (*error: the code)
// or the sizes are unusable; *chunks then holds what was appended before the failure. With
// readBytes, each block read is added to it as it is hashed (another thread may watch it).
int CutLocalFile(const wchar_t* path, const ChunkSizes& sizes, std::vector<ContentCutChunk>* chunks,
                 unsigned long* error, std::atomic<uint64_t>* readBytes = nullptr);

// Reads the file named path once and checks it against chunks, the chunks a release lists for
// it (consecutive from offset 0): 1 only when the file is exactly their bytes, each chunk's
// SHA-256 its own. 0 at the first chunk that differs, a size that is not theirs, or a failed
// read (*error: the code). Cheaper than a cut: no chunker runs. With readBytes, each block
// read is added to it; *counted receives what was added.
int FileHasChunks(const wchar_t* path, const std::vector<ContentCutChunk>& chunks, unsigned long* error,
                  std::atomic<uint64_t>* readBytes, uint64_t* counted);
