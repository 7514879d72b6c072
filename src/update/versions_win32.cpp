// The installed versions the system keeps: the executable's version resource, the registry.
#include <windows.h>

#include <cstdlib>

#include "common/win32_handle.h"
#include "update/patch_info.h"
#include "update/versions.h"
#include "update/versions_win32.h"
#include "settings/version_record.h"

VersionQuad ReadLauncherVersion() {
    VersionQuad result = {{0, 0, 0, 0}};
    char path[260] = {0};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return result;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return result;
    void* info = std::malloc(size);
    if (!info) return result;
    if (GetFileVersionInfoA(path, 0, size, info)) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
            result.field[0] = HIWORD(fixed->dwFileVersionMS);
            result.field[1] = LOWORD(fixed->dwFileVersionMS);
            result.field[2] = HIWORD(fixed->dwFileVersionLS);
            result.field[3] = LOWORD(fixed->dwFileVersionLS);
        }
    }
    std::free(info);
    return result;
}

int IsInstallerUpdateNeeded() {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
        return 0;
    // One byte more than the value may use keeps the text terminated whatever the value holds.
    char value[257] = {0};
    DWORD size = 256;
    if (RegQueryValueExA(key.Get(), "InstallerVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) !=
        ERROR_SUCCESS)
        return 0;
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
