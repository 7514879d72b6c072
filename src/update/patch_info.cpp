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

// Reads one line of the file into line (size bytes), cut to what fits; the rest of a longer
// line is skipped, so it is never taken for a line of its own. *cut tells that something was
// lost. fgets writes the buffer's last byte only when it fills the buffer, which tells a full
// read from a short line even when the line holds a NUL.
bool ReadLine(char* line, int size, std::FILE* file, bool* cut) {
    line[size - 1] = '\x01';
    if (!std::fgets(line, size, file)) return false;
    *cut = false;
    if (line[size - 1] == '\0' && line[size - 2] != '\n') {
        int next = std::fgetc(file);
        // Only the newline left, or the end of the file: the line is whole.
        if (next != EOF && next != '\n') {
            *cut = true;
            while (next != EOF && next != '\n') next = std::fgetc(file);
        }
    }
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
    char line[kMaxLineLength + 1];
    bool cut = false;
    while (ReadLine(line, sizeof line, file, &cut)) {
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
            // A line without a version is no step, even below a negative CurrentVersion:
            // version 0 ends the list for the worker.
            if (version != 0 && version > CurrentVersion) {
                PatchStepFlaws[stepIndex] = StoreStep(line, &PatchList[stepIndex]);
                if (cut) PatchStepFlaws[stepIndex] |= kStepLineCut;
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
