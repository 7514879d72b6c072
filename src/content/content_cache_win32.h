// content.cache on disk: verified chunks appended as they arrive, read back while files are
// built, flushed before the build starts and deleted once the update is complete.
#pragma once

#include <cstdint>

#include "common/win32_handle.h"
#include "content/cache_record.h"

class ContentCache {
public:
    // Starts an empty cache under name (an earlier one is replaced). False with LastError().
    bool Create(const wchar_t* name);
    // Appends one verified chunk's record; *frameAt receives where its frame starts.
    bool Append(const CacheRecordHeader& header, const uint8_t* frame, uint64_t* frameAt);
    bool Flush();
    // Reads the frame of storedSize bytes at frameAt after checking the record header before it
    // names this chunk: a cache that changed under the worker is never trusted.
    bool ReadFrame(uint64_t frameAt, const CacheRecordHeader& expected, uint8_t* frame);
    // Closes and deletes the file.
    void Remove();

    uint64_t End() const { return end_; }
    unsigned long LastError() const { return error_; }

private:
    bool WriteAll(const void* data, uint32_t size);
    bool ReadAt(uint64_t at, void* data, uint32_t size);

    FileHandle file_;
    uint64_t end_ = 0;
    unsigned long error_ = 0;
    wchar_t name_[64] = {};
};

// The records of the cache file name that are whole, in order, until the first torn or foreign
// one: visit gets each header and where its frame starts. The count of whole records, or -1
// when the file is missing or is no cache.
typedef void (*CacheRecordVisitor)(void* context, const CacheRecordHeader& header, uint64_t frameAt);
int64_t ScanContentCache(const wchar_t* name, CacheRecordVisitor visit, void* context);
