// Downloading one URL into one local file over HTTP or HTTPS (WinInet): a HEAD size probe, then
// a GET written to the file in 2048-byte pieces, with a result code naming the failed stage.
// Every call opens and closes its own handles; nothing is kept between calls, so any thread
// may call them.
#pragma once

#include <cstdint>

// Result codes of TransferUrlToFile, DownloadUrlToFileEx and DownloadUrlToFile.
constexpr int32_t kTransferDone = 0;          // the body was received and written
constexpr int32_t kTransferNoSession = 1;     // the URL has no "/", or no root internet handle
constexpr int32_t kTransferOpenFailed = 2;    // name, connection, secure channel or request failed,
                                              // or an HTTPS address was answered from plain HTTP
constexpr int32_t kTransferFileFailed = 3;    // the local file could not be created
constexpr int32_t kTransferStopped = 4;       // the progress callback asked to stop
constexpr int32_t kTransferReadFailed = 5;    // a read failed short of the probed length, or the
                                              // body fell below crawl_watch.h's minimum rate
constexpr int32_t kTransferWriteFailed = 6;   // the local file refused bytes (a full disk, ...);
                                              // the partial file has been deleted
constexpr int32_t kTransferBadStatus = 7;     // the answer was not 200 or 206 (strict fetch only)

// Results of ProbeContentLength.
constexpr int32_t kProbeLengthRead = 0;
constexpr int32_t kProbeNoSession = 1;        // the root internet handle could not be opened
constexpr int32_t kProbeNoLength = 2;         // no connection, no answer, or no Content-Length

constexpr const char* kDefaultUserAgent = "downslib";
constexpr uint32_t kDefaultReceiveTimeoutMs = 3000;
constexpr uint32_t kTransferPieceSize = 2048;

// Told (bytes received so far, expected total; 0 while the total is unknown) before each piece
// is written, and once more at the end with both equal. Non-zero stops the transfer.
using TransferProgressCallback = int32_t (*)(int32_t received, int32_t expected);

// Asks for the length of host + path with a HEAD request whose root handle has a receive
// time-out of timeoutMs. host may carry ":port"; without one a secure probe goes to 443 and a
// plain one to 80. secure (0 or 1) selects HTTPS that accepts expired certificates and ones
// for other host names. On kProbeLengthRead *length holds the Content-Length; otherwise it is
// left as it was. A server whose authority is unknown never yields a length.
int32_t ProbeContentLength(const char* host, const char* path, int secure, const char* userAgent,
                           uint32_t timeoutMs, int32_t* length);

// Probes the length of url (split beforehand into host and path), then GETs url and writes the
// body into localPath, which is created (or emptied) only once the server has answered, so
// results 1 and 2 leave an older file untouched. The HTTP status is not examined: an error
// page is stored like any body. A body that ends early counts as complete unless a read
// fails while the probed length was known and not yet reached (kTransferReadFailed; the part
// that arrived stays in the file), or the body crawls (below kCrawlLimit's rate, crawl_watch.h,
// once begun: kTransferReadFailed too, whatever its length). userAgent and timeoutMs are used
// as given (the defaults are applied by DownloadUrlToFileEx); callback may be null.
int32_t TransferUrlToFile(const char* url, const char* host, const char* path, int secure,
                          const char* localPath, const char* userAgent, uint32_t timeoutMs,
                          TransferProgressCallback callback);

// Splits url and runs TransferUrlToFile; a null userAgent means "downslib", a timeoutMs of 0
// means 3000, and callback may be null.
int32_t DownloadUrlToFileEx(const char* url, const char* localPath, int secure, const char* userAgent,
                            uint32_t timeoutMs, TransferProgressCallback callback);

// DownloadUrlToFileEx with "downslib", 3000 ms and no callback.
int32_t DownloadUrlToFile(const char* url, const char* localPath, int secure);

// The patch information must never be replaced by an error page or a cut copy: GETs url like
// DownloadUrlToFile, but only a 200 or 206 answer whose body arrived whole counts; another
// status gives kTransferBadStatus, a body that is not known to be whole kTransferReadFailed.
// Whole means: as long as the GET's own Content-Length when it has one (the HEAD's length may
// be stale and never decides then); without one (a body ended by the server's close, or sent
// in chunks), ending with a line end or exactly as long as the HEAD said. A body with none
// of these cannot be told from a cut one and is refused. The body goes to localPath + ".new", which replaces localPath in one step only
// then; on any failure localPath is left exactly as it was.
int32_t DownloadCompleteUrlToFile(const char* url, const char* localPath, int secure);
