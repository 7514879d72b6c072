// content.cache on disk: verified chunks appended as they arrive, read back while files are
// built, flushed as it grows and before the build starts, kept across runs until an update is
// complete (a start after a kill or a failure reads the chunks it holds instead of fetching
// them) and deleted then.
#pragma once

#include <cstdint>

#include "common/win32_handle.h"
#include "content_format/cache_record.h"

class ContentCache {
public:
    // Starts an empty cache under name (an earlier one is replaced). False with LastError().
    bool Create(const wchar_t* name);
    // Continues the cache under name after its first keep bytes (the whole records a scan found,
    // anything after them cut off), or starts it empty when keep is 0. False with LastError().
    bool Open(const wchar_t* name, uint64_t keep);
    // Appends one verified chunk's record; *frameAt receives where its frame starts.
    bool Append(const CacheRecordHeader& header, const uint8_t* frame, uint64_t* frameAt);
    bool Flush();
    // Flushes once kFlushBytes were appended or kFlushMillis went by since the last flush: a
    // killed process loses nothing written, a power cut at most that much.
    bool FlushWhenDue();
    static constexpr uint64_t kFlushBytes = 16u << 20;
    static constexpr uint32_t kFlushMillis = 4000;
    // Reads the frame of storedSize bytes at frameAt after checking the record header before it
    // names this chunk: a cache that changed under the worker is never trusted.
    bool ReadFrame(uint64_t frameAt, const CacheRecordHeader& expected, uint8_t* frame);
    // Closes and deletes the file.
    void Remove();

    uint64_t End() const { return end_; }
    unsigned long LastError() const { return error_; }

private:
    bool WriteAll(const void* data, uint32_t size);
    bool OpenFile(const wchar_t* name, unsigned long disposition);
    bool ReadAt(uint64_t at, void* data, uint32_t size);

    FileHandle file_;
    uint64_t end_ = 0;
    uint64_t unflushed_ = 0;
    uint32_t flushedAt_ = 0;  // GetTickCount of the last flush
    unsigned long error_ = 0;
    wchar_t name_[64] = {};
};

// The records of the cache file name that are whole, in order, until the first torn or foreign
// one: visit gets each header and where its frame starts. The count of whole records, or -1
// when the file is missing or is no cache.
typedef void (*CacheRecordVisitor)(void* context, const CacheRecordHeader& header, uint64_t frameAt);
int64_t ScanContentCache(const wchar_t* name, CacheRecordVisitor visit, void* context);
