// Reading the installed installer and launcher versions from the system.
#pragma once

#include "update/versions.h"

constexpr const char* kInstallerRegistryKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Brevanta.exe";

// The running executable's fixed file version; 0.0.0.0 when it cannot be read, which never
// asks for a launcher update.
VersionQuad ReadLauncherVersion();

// 1 when the registry's InstallerVersion is below RequiredInstallerVersion; 0 when the key
// or value is absent.
int IsInstallerUpdateNeeded();

// The start-up decision on the current state: installer check first, then the launcher.
UpdateRoad DecideStartupRoad();
