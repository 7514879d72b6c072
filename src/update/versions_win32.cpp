// The installed versions the system keeps: the executable's version resource, the registry.
#include <windows.h>

#include <cstdlib>

#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "update/patch_info.h"
#include "update/versions.h"
#include "update/versions_win32.h"
#include "settings/version_record.h"

namespace {

// The fixed file version of the version information in info; 0.0.0.0 when it has none.
VersionQuad FixedFileVersion(const void* info, const char* path) {
    VersionQuad result = {{0, 0, 0, 0}};
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        TraceFailure("version query", path, GetLastError());
        return result;
    }
    result.field[0] = HIWORD(fixed->dwFileVersionMS);
    result.field[1] = LOWORD(fixed->dwFileVersionMS);
    result.field[2] = HIWORD(fixed->dwFileVersionLS);
    result.field[3] = LOWORD(fixed->dwFileVersionLS);
    return result;
}

}  // namespace

VersionQuad ReadLauncherVersion() {
    VersionQuad result = {{0, 0, 0, 0}};
    char path[260] = {0};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        TraceFailure("module path", nullptr, length ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return result;
    }
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        TraceFailure("version information size", path, GetLastError());
        return result;
    }
    void* info = std::malloc(size);
    if (!info) {
        TraceFailure("version information", path, ERROR_NOT_ENOUGH_MEMORY);
        return result;
    }
    if (GetFileVersionInfoA(path, 0, size, info))
        result = FixedFileVersion(info, path);
    else
        TraceFailure("version information", path, GetLastError());
    std::free(info);
    return result;
}

int IsInstallerUpdateNeeded() {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_ALL_ACCESS, key.Put());
    if (status != ERROR_SUCCESS) {
        TraceFailure("installer registry key", kInstallerRegistryKey, static_cast<unsigned long>(status));
        return 0;
    }
    // One byte more than the value may use keeps the text terminated whatever the value holds.
    char value[257] = {0};
    DWORD size = 256;
    status = RegQueryValueExA(key.Get(), "InstallerVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    if (status != ERROR_SUCCESS) {
        TraceFailure("installer registry value", "InstallerVersion", static_cast<unsigned long>(status));
        return 0;
    }
    key.Reset();
    VersionQuad installed = ReadVersionText(value);
    VersionQuad required = ReadVersionText(RequiredInstallerVersion);
    return CompareVersions(installed, required) == -1 ? 1 : 0;
}

UpdateRoad DecideStartupRoad() {
    int installer = IsInstallerUpdateNeeded();
    int launcher = installer == 1 ? 0 : IsLauncherUpdateNeeded();
    return DecideUpdateRoad(installer, launcher, LatestVersion, CurrentVersion.load());
}
