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
uint8_t PatchStepFlaws[kMaxPatchSteps] = {};

namespace {

enum class Section { None, Installer, Launcher, Player };

const char* SkipBlanks(const char* text) {
    while (*text && IsBlankOrNewline(*text)) ++text;
    return text;
}

uint8_t StoreStep(const char* line, PatchStep* step) {
    uint8_t flaws = 0;
    const char* rest = nullptr;
    step->Version = ReadLeadingDecimal(line, &rest);
    step->FileCount = 0;
    for (int i = 0; i < kMaxStepFiles; ++i) {
        bool found = false;
        const char* start = SkipBlanks(rest);
        rest = NextToken(start, step->FileNames[i], kStepFileNameSize, &found);
        if (!found) break;
        if (rest - start >= static_cast<long>(kStepFileNameSize)) flaws |= kStepNameCut;
        step->FileCount = i + 1;
    }
    if (*SkipBlanks(rest) != '\0') flaws |= kStepExtraNames;
    return flaws;
}

// fgets stopped before the line's end: the rest comes as a piece of its own.
bool LineWasCut(const char* line, std::FILE* file) {
    const std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') return false;
    const int next = std::fgetc(file);
    if (next == EOF) return false;
    std::ungetc(next, file);
    return true;
}

}  // namespace

void ResetPatchInfo() {
    RequiredInstallerVersion[0] = '\0';
    RequiredLauncherVersion[0] = '\0';
    LatestVersion = 0;
    std::memset(PatchList, 0, sizeof PatchList);
    std::memset(PatchStepFlaws, 0, sizeof PatchStepFlaws);
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
            std::memset(PatchStepFlaws, 0, sizeof PatchStepFlaws);
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
                PatchStepFlaws[stepIndex] = StoreStep(line, &PatchList[stepIndex]);
                if (LineWasCut(line, file)) PatchStepFlaws[stepIndex] |= kStepLineCut;
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
