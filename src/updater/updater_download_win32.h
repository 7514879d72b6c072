// Fetching one file over HTTPS with the certificate checked in full (date, host name,
// authority): only a 200 answer whose body is exactly its Content-Length is kept.
#pragma once

#include "updater/updater_text.h"

// GETs url into path (created or emptied; deleted again on any failure, flushed to disk on
// success). The window shows "Downloading <shownName>... N%" meanwhile.
DownloadOutcome DownloadToFile(const char* url, const char* path, const char* shownName);
