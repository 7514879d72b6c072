// The check every WinInet transfer makes once its request is open: an answer to an HTTPS
// address must have come from an HTTPS address, after whatever redirects WinInet followed.
#pragma once

#include <windows.h>
#include <wininet.h>

// 1 when askedUrl is not HTTPS, or when the address request was finally answered from
// (INTERNET_OPTION_URL) is HTTPS too. Otherwise 0, with the final address (or the failed
// query) in the debugger output and the last error set to ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
// (or the query's own code), so the caller handles it like a failed open.
int AnswerStayedOnHttps(HINTERNET request, const char* askedUrl);
