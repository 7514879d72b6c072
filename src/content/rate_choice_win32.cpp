// SavedRateLimitMbps and SaveRateLimitMbps: the speed limit's one registry value.
#include "content/rate_choice_win32.h"

#include <windows.h>

#include "build_settings.h"
#include "common/failure_trace.h"
#include "common/win32_handle.h"

const char* const kContentChoiceKey = "Software\\QOR Launcher\\" LAUNCHER_GAME_EXECUTABLE;

uint32_t SavedRateLimitMbps() {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kContentChoiceKey, 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("rate limit key", kContentChoiceKey, status);
        return LAUNCHER_CONTENT_RATE_LIMIT_MBPS;
    }
    DWORD value = 0, type = 0, size = sizeof value;
    status = RegQueryValueExA(key.Get(), kRateLimitValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("rate limit value", kRateLimitValueName, status);
        return LAUNCHER_CONTENT_RATE_LIMIT_MBPS;
    }
    // Anything else was not written by this launcher: the operator's default rather than a guess.
    if (type != REG_DWORD || size != sizeof value || value > kMaxRateLimitMbps) {
        TraceFailure("rate limit value", kRateLimitValueName, ERROR_INVALID_DATA);
        return LAUNCHER_CONTENT_RATE_LIMIT_MBPS;
    }
    return value;
}

bool SaveRateLimitMbps(uint32_t mbps) {
    RegistryKey key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, kContentChoiceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) {
        TraceFailure("rate limit key", kContentChoiceKey, status);
        return false;
    }
    const DWORD value = mbps;
    status = RegSetValueExA(key.Get(), kRateLimitValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
    if (status != ERROR_SUCCESS) {
        TraceFailure("rate limit value", kRateLimitValueName, status);
        return false;
    }
    return true;
}
