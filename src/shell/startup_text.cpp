// Start-up's text helpers: the launcher folder and the updater command line.
#include "shell/startup_text.h"

#include <cstring>

#include "common/bounded_text.h"

void CutAtLastBackslash(char* path) {
    std::size_t length = std::strlen(path);
    for (std::size_t i = length; i-- > 2;) {
        if (path[i] == '\\') {
            path[i] = '\0';
            return;
        }
    }
}

bool FormatUpdaterCommand(char* out, std::size_t size, bool launcher, uint32_t number,
                          const char* requiredVersion, const char* patchBaseUrl) {
    std::memset(out, 0, size);
    bool fitted = launcher
                      ? FormatText(out, size, "Updater Launcher %d %s %s", static_cast<int>(number), requiredVersion,
                                   patchBaseUrl)
                      : FormatText(out, size, "Updater Installer %d %s %s", static_cast<int>(number), requiredVersion,
                                   patchBaseUrl);
    if (!fitted) std::memset(out, 0, size);
    return fitted;
}
