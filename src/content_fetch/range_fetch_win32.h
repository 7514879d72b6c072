// One single-range GET of chunk data over WinInet, its body handed to a sink in pieces, and
// the session the content transfers share so that WinInet can keep connections alive.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstddef>
#include <cstdint>

#include "common/win32_handle.h"
#include "update/crawl_watch.h"

// The receive time-out of content transfers: long enough for a slow link, short enough that a
// stalled connection is given up and tried again.
constexpr uint32_t kContentReceiveTimeoutMs = 30000;
constexpr const char* kContentUserAgent = "MS";
// Range requests running at once: enough to keep a long, fast link full (one TCP connection
// seldom fills it, and none does once packets are lost), few enough to be fair to the server.
constexpr uint32_t kContentFetchLanes = 4;

// The system's proxy configuration (INTERNET_OPEN_TYPE_PRECONFIG) and the time-outs above; the
// process's WinInet lets kContentFetchLanes connections go to one server at once. May be used
// by several threads at once, each with its own requests.
// Empty when the system refused; the failure went to the debugger output.
InternetHandle OpenContentSession();

// Results of FetchRange.
constexpr int32_t kRangeDone = 0;
constexpr int32_t kRangeOpenFailed = 1;  // name, connection, proxy, secure channel or request failed
constexpr int32_t kRangeBadStatus = 2;   // the answer was neither 206 nor 200
constexpr int32_t kRangeBadAnswer = 3;   // a 206 for other bytes, or a length that is not the range's
constexpr int32_t kRangeReadFailed = 4;  // the body broke off, ended short of the range or crawled
                                         // (Error kCrawlErrorCode)
constexpr int32_t kRangeStopped = 5;     // the sink asked to stop

// Takes the next bytes of the range, in order; returns 0 to go on, kRangeSinkEnough when it has
// all it wants (the transfer ends as done), anything else to stop.
using RangeSink = int (*)(void* context, const uint8_t* data, std::size_t length);
constexpr int kRangeSinkEnough = -1;

struct RangeAnswer {
    uint32_t Status;      // the HTTP status, 0 when none came
    uint32_t Error;       // the system's error code of a failed open or read, else 0
    uint64_t Delivered;   // bytes handed to the sink, from first on
    int WholeBody;        // the server ignored the range and sent the whole file (200)
    int ReadOn;           // set by the caller: of a whole file, the bytes past last go to the sink too
};

// GETs url asking for bytes first..last (inclusive) and hands exactly those bytes to sink.
// A 206 must name exactly that range in its Content-Range; a 200 (a server that ignores
// ranges) is read from the start, the bytes before first thrown away; with answer->ReadOn set it
// is read on past last while the sink takes them (a server that ignores ranges then has its file
// read once, not once a piece), else nothing past last is ever read. secure selects HTTPS with the launcher's certificate rules (every chunk is
// checked against its SHA-256 anyway). Delivered tells a caller that resumes how far it got.
// A body that falls below kCrawlLimit's rate once it has begun is given up like one that broke off.
int32_t FetchRange(HINTERNET session, const char* url, int secure, uint64_t first, uint64_t last,
                   RangeSink sink, void* context, RangeAnswer* answer);
// 1 when a FetchRange on the calling thread was answered with the whole file (200) since the
// last call, which clears it: the mirrored requests ask around each try, on the try's thread,
// which base ignores ranges.
int TakeWholeBodySeen();

// FetchRange with the body's minimum rate given.
int32_t FetchRangeWithin(HINTERNET session, const char* url, int secure, uint64_t first, uint64_t last,
                         const CrawlLimit& limit, RangeSink sink, void* context, RangeAnswer* answer);
