// Reading a WinInet body in the pieces that have arrived, so that a body that crawls is noticed
// between its bytes rather than after a whole buffer's worth of them.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "update/crawl_watch.h"

// Waits for the body's next bytes (bounded by the handle's receive time-out), then reads those
// that arrived, at most size, into buffer, and notes them on watch. 1 with *got bytes (0 at the
// body's end); 0 with *error the system's code when the wait or the read failed, or
// kCrawlErrorCode when the body fell below watch's rate.
int ReadArrived(HINTERNET request, void* buffer, DWORD size, DWORD* got, CrawlWatch* watch, DWORD* error);
