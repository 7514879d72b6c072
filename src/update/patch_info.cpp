// ParsePatchInfo: sections [INSTALLER], [LAUNCHER], [PLAYER] of the patch information text.
#include "update/patch_info.h"

#include <cstdio>
#include <cstring>

#include "common/text_scan.h"
#include "settings/version_record.h"

char RequiredInstallerVersion[kVersionTextSize] = {0};
char RequiredLauncherVersion[kVersionTextSize] = {0};
int32_t LatestVersion = 0;
PatchStep PatchList[kMaxPatchSteps] = {};
int32_t PatchFileTotal = 0;

namespace {

enum class Section { None, Installer, Launcher, Player };

void StoreStep(const char* line, PatchStep* step) {
    const char* rest = nullptr;
    step->Version = ReadLeadingDecimal(line, &rest);
    step->FileCount = 0;
    for (int i = 0; i < kMaxStepFiles; ++i) {
        bool found = false;
        rest = NextToken(rest, step->FileNames[i], kStepFileNameSize, &found);
        if (!found) break;
        step->FileCount = i + 1;
    }
}

}  // namespace

void ResetPatchInfo() {
    RequiredInstallerVersion[0] = '\0';
    RequiredLauncherVersion[0] = '\0';
    LatestVersion = 0;
    std::memset(PatchList, 0, sizeof PatchList);
    PatchFileTotal = 0;
}

int ParsePatchInfo() { return ParsePatchInfoFile("update.dat"); }

int ParsePatchInfoFile(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (!file) return 0;

    Section section = Section::None;
    int stepIndex = 0;
    char line[1023];
    while (std::fgets(line, sizeof line, file)) {
        char first[sizeof line];
        bool found = false;
        NextToken(line, first, sizeof first, &found);
        if (std::strcmp(first, "[INSTALLER]") == 0) {
            section = Section::Installer;
            continue;
        }
        if (std::strcmp(first, "[LAUNCHER]") == 0) {
            section = Section::Launcher;
            continue;
        }
        if (std::strcmp(first, "[PLAYER]") == 0) {
            section = Section::Player;
            std::memset(PatchList, 0, sizeof PatchList);
            PatchFileTotal = 0;
            stepIndex = 0;
            continue;
        }
        if (section == Section::Player && stepIndex == kMaxPatchSteps) break;

        switch (section) {
        case Section::Installer:
        case Section::Launcher: {
            if (!found) break;
            char* target = section == Section::Installer ? RequiredInstallerVersion : RequiredLauncherVersion;
            bool dummy = false;
            NextToken(line, target, kVersionTextSize, &dummy);
            break;
        }
        case Section::Player: {
            const char* end = nullptr;
            int32_t version = ReadLeadingDecimal(line, &end);
            if (version != 0) LatestVersion = version;
            if (version > CurrentVersion) {
                StoreStep(line, &PatchList[stepIndex]);
                PatchFileTotal += PatchList[stepIndex].FileCount;
                ++stepIndex;
            }
            break;
        }
        case Section::None:
            break;
        }
    }
    std::fclose(file);
    return 1;
}
