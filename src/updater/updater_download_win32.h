// Fetching one file over HTTPS with the certificate checked in full (date, host name,
// authority): only a 200 answer whose body is exactly its Content-Length is kept.
#pragma once

#include <cstdint>

#include "updater/updater_text.h"

// GETs url into path (created or emptied; deleted again on any failure, flushed to disk on
// success). The window shows "Downloading <shownName>... N%" meanwhile.
DownloadOutcome DownloadToFile(const char* url, const char* path, const char* shownName);

// GETs url into buffer, the same way but without showing progress: an announced length above
// capacity is refused unread (TooLarge). On Done *length holds the body's length.
DownloadOutcome DownloadToMemory(const char* url, void* buffer, uint32_t capacity, uint32_t* length);
