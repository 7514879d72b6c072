// Where the Updater fetches from and what it writes: server addresses, the names of its
// temporary files, and the order of the launcher swap, so that a kill at any moment leaves a
// whole launcher and files the next run recognises. No platform calls.
#pragma once

#include <cstddef>

#include "update/manifest.h"

enum class LauncherArchitecture { I686, X86_64 };

// Launcher files of the two architectures lie in folders of their own on the server.
const char* LauncherServerFolder(LauncherArchitecture architecture);  // "Launcher", "Launcher64"

// The paths of the new launcher and installer below the base, as the signed manifest lists
// them: "Launcher/<version>/launcher.exe" ("Launcher64" for x86_64) and
// "Installer/<version>/QOR_Installer.exe". False when cut; kManifestPathSize holds any.
bool BuildLauncherPath(char* out, std::size_t size, const char* version, LauncherArchitecture architecture);
bool BuildInstallerPath(char* out, std::size_t size, const char* version);
// base + "/" + path. False when cut.
bool BuildServerUrl(char* out, std::size_t size, const char* base, const char* path);

// <base>/ and the paths above. False when cut.
bool BuildLauncherUrl(char* out, std::size_t size, const char* base, const char* version,
                      LauncherArchitecture architecture);
bool BuildInstallerUrl(char* out, std::size_t size, const char* base, const char* version);

constexpr const char* kDefaultLauncherName = "launcher.exe";
constexpr const char* kInstallerName = "QOR_Installer.exe";
// A download in progress, or whole but not yet checked and moved into place.
constexpr const char* kDownloadSuffix = ".updating";
// The previous launcher, kept under a second name while the new one takes its place.
constexpr const char* kReplacedSuffix = ".replaced";

// A plain file name of a program in the folder: no folder part, no drive, no stream, ends in
// ".exe" (any case), at most 200 characters.
bool IsProgramFileName(const char* name);

// Whether name is "<program>.exe<suffix>" (".exe" in any case); if so the program's name is
// copied into program (false when it does not fit).
bool SplitTemporaryName(const char* name, const char* suffix, char* program, std::size_t size);

// One system call each, on the launcher's file, its download and its replaced copy.
enum class SwapStep {
    KeepOldAside,    // a second name (a link, else a copy) of the launcher as its replaced copy
    MoveNewInPlace,  // the download takes the launcher's name in one rename
    PutOldBack,      // the replaced copy takes the launcher's name back in one rename
    RemoveOld,       // the replaced copy is deleted (a locked one is left for the next run)
    RemoveDownload,  // the download is deleted
};

constexpr int kMaxSwapSteps = 4;
struct SwapPlan {
    SwapStep steps[kMaxSwapSteps];
    int count;
};

// Moving a checked download into place. A failed step ends the plan, and the launcher's
// name still holds the old file.
SwapPlan PlanSwap(bool launcherExists);
// After the new launcher started: the old copy goes.
SwapPlan PlanFinish();
// When the new launcher cannot be started: the old one returns.
SwapPlan PlanUndo();
// At the start of every run, from what a killed run left: a launcher name without a file gets
// its replaced copy back; other replaced copies and every download are deleted.
SwapPlan PlanRepair(bool launcherExists, bool replacedExists, bool downloadExists);
