// ParsePatchInfo: sections [INSTALLER], [LAUNCHER], [PLAYER] of the patch information text.
#include "update/patch_info.h"

#include <cstdio>
#include <cstring>

#include "settings/version_record.h"

char RequiredInstallerVersion[kVersionTextSize] = {0};
char RequiredLauncherVersion[kVersionTextSize] = {0};
int32_t LatestVersion = 0;
PatchStep PatchList[kMaxPatchSteps] = {};
int32_t PatchFileTotal = 0;

namespace {

enum class Section { None, Installer, Launcher, Player };

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Copies the next whitespace-delimited token into dest (cut to destSize - 1 bytes, the rest
// of the token skipped). Returns the position after the token; *found tells whether one was there.
const char* NextToken(const char* text, char* dest, std::size_t destSize, bool* found) {
    while (*text && IsSpace(*text)) ++text;
    std::size_t n = 0;
    *found = *text != '\0';
    while (*text && !IsSpace(*text)) {
        if (n + 1 < destSize) dest[n++] = *text;
        ++text;
    }
    if (destSize) dest[n] = '\0';
    return text;
}

// Like "%d": blanks, an optional sign, digits. *end is left after the digits; no digits
// gives 0 and *end at the start. Values beyond 32 bits saturate.
int32_t LeadingInt(const char* text, const char** end) {
    const char* p = text;
    while (*p && IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') {
        *end = text;
        return 0;
    }
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    *end = p;
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int32_t>(value);
}

void StoreStep(const char* line, PatchStep* step) {
    const char* rest = nullptr;
    step->Version = LeadingInt(line, &rest);
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
            int32_t version = LeadingInt(line, &end);
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
