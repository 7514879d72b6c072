// Version texts a.b.c.d, their comparison, client version series and the start-up road.
#pragma once

#include <cstdint>

struct VersionQuad {
    int32_t field[4];  // most significant first
};

// The launcher's own file version, read once at start-up.
extern VersionQuad LauncherVersion;

// "%d.%d.%d.%d" from 0.0.0.0: reading stops at the first character that does not fit, so
// "1.2" is 1.2.0.0 and "" is 0.0.0.0.
VersionQuad ReadVersionText(const char* text);

// -1, 0 or 1 as a is below, equal to or above b, field by field as signed numbers.
int CompareVersions(const VersionQuad& a, const VersionQuad& b);

// A client version's release series: patches never cross one.
inline int32_t VersionSeries(int32_t version) { return version / 10000; }

// 1 when LauncherVersion is below RequiredLauncherVersion.
int IsLauncherUpdateNeeded();

enum class UpdateRoad {
    InstallerUpdate,  // hand over to the updater, then end
    LauncherUpdate,   // hand over to the updater, then end
    ReinstallClient,  // other series: ask for a reinstallation
    Ready,            // client current
    Patch,            // same series, behind: start the download worker
};

// The decision from its inputs; the first rule that applies wins.
UpdateRoad DecideUpdateRoad(int installerUpdateNeeded, int launcherUpdateNeeded,
                            int32_t latestVersion, int32_t currentVersion);

const char* UpdateRoadName(UpdateRoad road);
