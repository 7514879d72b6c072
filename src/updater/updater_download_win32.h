// Fetching one file over HTTPS with the certificate checked in full (date, host name,
// authority): only a 200 answer whose body is exactly its Content-Length is kept.
#pragma once

#include <cstdint>

#include "updater/updater_text.h"

// No signed size: any announced length is taken (an Updater without a signing key).
constexpr int64_t kNoSignedSize = -1;

// GETs url into path (created or emptied; deleted again on any failure, flushed to disk on
// success). The window shows "Downloading <shownName>... N%" meanwhile. With signedSize (the
// size the verified manifest lists), an answer announcing another length is refused
// (NotSignedSize) before path is created or emptied.
DownloadOutcome DownloadToFile(const char* url, const char* path, const char* shownName,
                               int64_t signedSize = kNoSignedSize);

// GETs url into buffer, the same way but without showing progress: an announced length above
// capacity is refused unread (TooLarge). On Done *length holds the body's length.
DownloadOutcome DownloadToMemory(const char* url, void* buffer, uint32_t capacity, uint32_t* length);
