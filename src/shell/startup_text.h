// Text work of start-up that needs no platform: the launcher folder and the updater's command.
#pragma once

#include <cstddef>
#include <cstdint>

// Cuts a module path at its last backslash, scanning from the last character down to
// index 2 (so "C:\" keeps its root); the text stays whole when none is met.
void CutAtLastBackslash(char* path);

// "Updater Installer %d %s %s" or "Updater Launcher %d %s %s" into out (zero-filled first).
// False when it does not fit: the updater must never get a cut address or version.
bool FormatUpdaterCommand(char* out, std::size_t size, bool launcher, uint32_t number,
                          const char* requiredVersion, const char* patchBaseUrl);
