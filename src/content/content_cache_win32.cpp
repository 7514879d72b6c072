// ContentCache over one read-write handle: appends at its end, reads at an offset.
#include "content/content_cache_win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "common/failure_trace.h"
#include "paths/game_folder_win32.h"

bool ContentCache::OpenFile(const wchar_t* name, unsigned long disposition) {
    file_.Reset();
    std::swprintf(name_, sizeof name_ / sizeof name_[0], L"%ls", name);
    if (!OpenGameFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, disposition, FILE_ATTRIBUTE_NORMAL, &file_,
                      &error_)) {
        TraceFailure("content cache", "create", kContentCacheName, error_);
        return false;
    }
    end_ = 0;
    unflushed_ = 0;
    flushedAt_ = GetTickCount();
    return true;
}

bool ContentCache::Create(const wchar_t* name) {
    return OpenFile(name, CREATE_ALWAYS) && WriteAll(kCacheMagic, kCacheMagicSize);
}

bool ContentCache::Open(const wchar_t* name, uint64_t keep) {
    // A file gone or shorter since it was scanned starts over: the keep bytes are not there.
    if (keep < kCacheMagicSize || !OpenFile(name, OPEN_EXISTING)) return Create(name);
    LARGE_INTEGER size, at;
    at.QuadPart = static_cast<LONGLONG>(keep);
    if (!GetFileSizeEx(file_.Get(), &size) || static_cast<uint64_t>(size.QuadPart) < keep) return Create(name);
    if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get())) {
        error_ = GetLastError();
        TraceFailure("content cache", "truncate", kContentCacheName, error_);
        return false;
    }
    end_ = keep;
    return true;
}

bool ContentCache::WriteAll(const void* data, uint32_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(end_);
    DWORD written = 0;
    if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN) ||
        !WriteFile(file_.Get(), data, size, &written, nullptr) || written != size) {
        error_ = written != size && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
        TraceFailure("content cache", "write", kContentCacheName, error_);
        return false;
    }
    end_ += size;
    unflushed_ += size;
    return true;
}

bool ContentCache::Append(const CacheRecordHeader& header, const uint8_t* frame, uint64_t* frameAt) {
    uint8_t encoded[kCacheRecordHeaderSize];
    EncodeCacheRecordHeader(header, encoded);
    if (!WriteAll(encoded, sizeof encoded)) return false;
    *frameAt = end_;
    return WriteAll(frame, header.StoredSize);
}

bool ContentCache::Flush() {
    unflushed_ = 0;
    flushedAt_ = GetTickCount();
    if (FlushFileBuffers(file_.Get())) return true;
    error_ = GetLastError();
    TraceFailure("content cache", "flush", kContentCacheName, error_);
    return false;
}

bool ContentCache::FlushWhenDue() {
    if (unflushed_ < kFlushBytes && GetTickCount() - flushedAt_ < kFlushMillis) return true;
    return Flush();
}

bool ContentCache::ReadAt(uint64_t at, void* data, uint32_t size) {
    LARGE_INTEGER where;
    where.QuadPart = static_cast<LONGLONG>(at);
    DWORD got = 0;
    if (SetFilePointerEx(file_.Get(), where, nullptr, FILE_BEGIN) && ReadFile(file_.Get(), data, size, &got, nullptr) &&
        got == size)
        return true;
    error_ = got != size && GetLastError() == 0 ? ERROR_HANDLE_EOF : GetLastError();
    TraceFailure("content cache", "read", kContentCacheName, error_);
    return false;
}

bool ContentCache::ReadFrame(uint64_t frameAt, const CacheRecordHeader& expected, uint8_t* frame) {
    uint8_t encoded[kCacheRecordHeaderSize];
    CacheRecordHeader found;
    if (frameAt < kCacheMagicSize + kCacheRecordHeaderSize ||
        !ReadAt(frameAt - kCacheRecordHeaderSize, encoded, sizeof encoded))
        return false;
    if (!DecodeCacheRecordHeader(encoded, &found) || std::memcmp(found.Sha256, expected.Sha256, 32) != 0 ||
        found.RawSize != expected.RawSize || found.StoredSize != expected.StoredSize) {
        error_ = ERROR_INVALID_DATA;
        return false;
    }
    return ReadAt(frameAt, frame, expected.StoredSize);
}

void ContentCache::Remove() {
    file_.Reset();
    unsigned long error = 0;
    if (name_[0]) DeleteGameFile(name_, &error);
    name_[0] = L'\0';
}

int64_t ScanContentCache(const wchar_t* name, CacheRecordVisitor visit, void* context) {
    FileHandle file;
    unsigned long error = 0;
    OpenGameFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, &file, &error);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size)) return -1;
    uint8_t bytes[kCacheRecordHeaderSize];
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, kCacheMagicSize, &got, nullptr) || got != kCacheMagicSize ||
        std::memcmp(bytes, kCacheMagic, kCacheMagicSize) != 0)
        return -1;
    const uint64_t end = static_cast<uint64_t>(size.QuadPart);
    uint64_t at = kCacheMagicSize;
    int64_t count = 0;
    CacheRecordHeader header;
    while (end - at >= kCacheRecordHeaderSize) {
        if (!ReadFile(file.Get(), bytes, kCacheRecordHeaderSize, &got, nullptr) || got != kCacheRecordHeaderSize ||
            !DecodeCacheRecordHeader(bytes, &header) || end - at - kCacheRecordHeaderSize < header.StoredSize)
            break;
        at += kCacheRecordHeaderSize;
        visit(context, header, at);
        at += header.StoredSize;
        LARGE_INTEGER next;
        next.QuadPart = static_cast<LONGLONG>(at);
        if (!SetFilePointerEx(file.Get(), next, nullptr, FILE_BEGIN)) break;
        ++count;
    }
    return count;
}
