// The two roads of the Updater, run on its update thread: each returns an UpdaterExit code
// after showing any failure in a message box.
#pragma once

#include "updater/updater_args.h"

// How long the Updater waits for the launcher to end before it gives up, touching nothing.
constexpr unsigned long kLauncherWaitMs = 60000;

// Waits for the launcher, downloads the new one beside it, checks it (with a signing key first
// against the signed manifest, then its version and processor), swaps it in and starts it.
int RunLauncherRoad(const UpdaterRequest& request);

// Downloads the installer as QOR_Installer.exe beside the launcher (with a signing key, only one
// the signed manifest lists with its size and SHA-256) and starts it.
int RunInstallerRoad(const UpdaterRequest& request);
