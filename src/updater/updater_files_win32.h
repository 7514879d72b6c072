// The Updater's files in the launcher's folder: full names, what a killed run left, the
// checks of a downloaded launcher, the swap steps, and which program is the launcher.
#pragma once

#include <windows.h>

#include <cstddef>

#include "common/win32_handle.h"
#include "updater/update_files.h"
#include "updater/updater_args.h"

constexpr std::size_t kPathSize = MAX_PATH;

// The Updater's own folder (no trailing backslash), which is the launcher's folder.
extern char UpdaterFolder[kPathSize];

// Fills UpdaterFolder from the module path and takes it as the working directory and the game
// folder (paths/game_folder_win32.h); false when it does not fit or cannot be taken.
bool FindUpdaterFolder();

// Deletes the file at path (UpdaterFolder\NAME) through the game folder's door, its read-only
// mark lifted: never through a link. True when it is gone or was never there; else false with
// the system's code as the last error.
bool RemoveFolderFile(const char* path);

// Opens the file at path (UpdaterFolder\NAME) through the game folder's door, as CreateFileW
// takes the other arguments: never through a link, never a folder. True with *out owning the
// handle; else false with the system's code as the last error.
bool OpenFolderFile(const char* path, unsigned long access, unsigned long share, unsigned long disposition,
                    unsigned long flags, FileHandle* out);

// UpdaterFolder + "\" + name + suffix; false when cut.
bool FolderPath(char* out, std::size_t size, const char* name, const char* suffix = "");

// Repairs and removes what a killed run left: every "*.exe.replaced" and "*.exe.updating"
// in the folder (PlanRepair for each program found).
void RepairLeftovers();

// Whether the process's image lies in the Updater's folder; its file name into name.
bool ImageInFolder(HANDLE process, char* name, std::size_t size);

// The launcher's file name when its process is gone: the one program in the folder whose
// version resource names the product "QOR Launcher", else launcher.exe.
void FindLauncherInFolder(char* name, std::size_t size);

bool FileExists(const char* path);

// The fixed file version of the file at path; false when it has none.
bool ReadFixedFileVersion(const char* path, FileVersion* version);

// The PE machine of the file at path; false when it is no PE file.
bool ReadFileMachine(const char* path, uint16_t* machine);

// Runs the plan's steps on launcher (a name in the folder), stopping at the first that fails;
// returns 0, or that step's system error.
DWORD RunSwapPlan(const SwapPlan& plan, const char* launcher);
