// Version texts, comparison and the update decision (no platform calls).
#include "update/versions.h"

#include <cstdio>

#include "common/text_scan.h"
#include "update/patch_info.h"

VersionQuad LauncherVersion = {{0, 0, 0, 0}};


VersionQuad ReadVersionText(const char* text) {
    VersionQuad v = {{0, 0, 0, 0}};
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') break;
            ++p;
        }
        const char* end = nullptr;
        int32_t field = ReadLeadingDecimal(p, &end);
        if (end == p) break;
        v.field[i] = field;
        p = end;
    }
    return v;
}

int CompareVersions(const VersionQuad& a, const VersionQuad& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.field[i] < b.field[i]) return -1;
        if (a.field[i] > b.field[i]) return 1;
    }
    return 0;
}

int IsLauncherUpdateNeeded() {
    return CompareVersions(LauncherVersion, ReadVersionText(RequiredLauncherVersion)) == -1 ? 1 : 0;
}

UpdateRoad DecideUpdateRoad(int installerUpdateNeeded, int launcherUpdateNeeded,
                            int32_t latestVersion, int32_t currentVersion) {
    if (installerUpdateNeeded == 1) return UpdateRoad::InstallerUpdate;
    if (launcherUpdateNeeded == 1) return UpdateRoad::LauncherUpdate;
    if (VersionSeries(latestVersion) != VersionSeries(currentVersion)) return UpdateRoad::ReinstallClient;
    if (latestVersion == currentVersion) return UpdateRoad::Ready;
    return UpdateRoad::Patch;
}

const char* UpdateRoadName(UpdateRoad road) {
    switch (road) {
    case UpdateRoad::InstallerUpdate: return "installer update";
    case UpdateRoad::LauncherUpdate: return "launcher update";
    case UpdateRoad::ReinstallClient: return "reinstall client";
    case UpdateRoad::Ready: return "ready";
    case UpdateRoad::Patch: return "patch";
    }
    return "?";
}
