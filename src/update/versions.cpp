// Version texts, comparison and the update decision (no platform calls).
#include "update/versions.h"

#include <cstdio>

#include "update/patch_info.h"

VersionQuad LauncherVersion = {{0, 0, 0, 0}};

namespace {

// One "%d" field: optional blanks and sign, digits; saturates instead of overflowing.
bool ReadField(const char*& p, int32_t* out) {
    const char* q = p;
    while (*q == ' ' || *q == '\t' || *q == '\n' || *q == '\r' || *q == '\v' || *q == '\f') ++q;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    if (*q < '0' || *q > '9') return false;
    int64_t value = 0;
    for (; *q >= '0' && *q <= '9'; ++q) {
        value = value * 10 + (*q - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    *out = static_cast<int32_t>(value);
    p = q;
    return true;
}

}  // namespace

VersionQuad ReadVersionText(const char* text) {
    VersionQuad v = {{0, 0, 0, 0}};
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') break;
            ++p;
        }
        if (!ReadField(p, &v.field[i])) break;
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
