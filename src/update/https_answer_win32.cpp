// The final address of an open WinInet request, held to the scheme it was asked with.
#include "update/https_answer_win32.h"

#include "common/failure_trace.h"
#include "update/https_address.h"

int AnswerStayedOnHttps(HINTERNET request, const char* askedUrl) {
    if (!IsHttpsAddress(askedUrl)) return 1;
    // WinInet follows a 302 by itself, under Wine even from HTTPS to plain HTTP, and the flags
    // offer no way to forbid it (INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP only allows it): the
    // address it ended on is the only witness.
    char finalUrl[INTERNET_MAX_URL_LENGTH];
    DWORD size = sizeof finalUrl;
    if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, finalUrl, &size)) {
        const DWORD error = GetLastError();
        TraceFailure("answer address query", askedUrl, error);
        SetLastError(error);
        return 0;
    }
    finalUrl[size < sizeof finalUrl ? size : sizeof finalUrl - 1] = '\0';
    if (IsHttpsAddress(finalUrl)) return 1;
    TraceFailure("answer over https", finalUrl, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    return 0;
}
