// ParsePatchInfo: sections [INSTALLER], [LAUNCHER], [PLAYER] of the patch information text.
#include "update/patch_info.h"

#include <cstdio>
#include <cstring>

#include "common/text_scan.h"
#include "settings/version_record.h"

char RequiredInstallerVersion[kVersionTextSize] = {0};
char RequiredLauncherVersion[kVersionTextSize] = {0};
int32_t LatestVersion = 0;
int32_t NewestPlayerVersion = 0;
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

// Reads the next piece of the file into line (size bytes): a whole line, or as much of a
// longer one as fits. *more tells that the line goes on after the piece. fgets writes the
// buffer's last byte only when it fills the buffer, which tells a full read from a short
// line even when the line holds a NUL.
bool ReadPiece(char* line, int size, std::FILE* file, bool* more) {
    line[size - 1] = '\x01';
    if (!std::fgets(line, size, file)) return false;
    *more = false;
    if (line[size - 1] == '\0' && line[size - 2] != '\n') {
        int next = std::fgetc(file);
        // Only the newline left, or the end of the file: the line is whole.
        if (next != EOF && next != '\n') {
            std::ungetc(next, file);
            *more = true;
        }
    }
    return true;
}

void SkipRestOfLine(std::FILE* file) {
    int next = std::fgetc(file);
    while (next != EOF && next != '\n') next = std::fgetc(file);
}

// A header line opens its section; anything after its first token is ignored.
bool IsHeader(const char* firstToken, Section* section) {
    static const struct {
        const char* name;
        Section section;
    } kHeaders[] = {
        {"[INSTALLER]", Section::Installer}, {"[LAUNCHER]", Section::Launcher}, {"[PLAYER]", Section::Player}};
    for (const auto& header : kHeaders) {
        if (std::strcmp(firstToken, header.name) == 0) {
            *section = header.section;
            return true;
        }
    }
    return false;
}

void StartPlayerList() {
    std::memset(PatchList, 0, sizeof PatchList);
    std::memset(PatchStepFlaws, 0, sizeof PatchStepFlaws);
    PatchFileTotal = 0;
}

// One [PLAYER] line: a version above CurrentVersion takes the next slot. more tells that the
// line went on past what was read.
void NoteNewest(int32_t version) {
    if (version > NewestPlayerVersion) NewestPlayerVersion = version;
}

void ReadPlayerLine(const char* line, bool more, int* stepIndex) {
    int32_t version = ReadLeadingDecimal(line);
    if (version != 0) LatestVersion = version;
    NoteNewest(version);
    // A line without a version is no step, even below a negative CurrentVersion: version 0
    // ends the list for the worker.
    if (version == 0 || version <= CurrentVersion) return;
    PatchStepFlaws[*stepIndex] = StoreStep(line, &PatchList[*stepIndex]);
    if (more) PatchStepFlaws[*stepIndex] |= kStepLineCut;
    PatchFileTotal += PatchList[*stepIndex].FileCount;
    ++*stepIndex;
}

}  // namespace

void ResetPatchInfo() {
    RequiredInstallerVersion[0] = '\0';
    RequiredLauncherVersion[0] = '\0';
    LatestVersion = 0;
    NewestPlayerVersion = 0;
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
    bool more = false;
    bool tail = false;
    NewestPlayerVersion = 0;
    while (ReadPiece(line, sizeof line, file, &more)) {
        char first[sizeof line];
        bool found = false;
        NextToken(line, first, sizeof first, &found);
        if (tail) {
            // The classic road reads nothing once a step finds no slot; the content road still
            // needs the newest release the rest of the section names.
            Section next = section;
            if (IsHeader(first, &next)) break;
            NoteNewest(ReadLeadingDecimal(line));
        } else if (IsHeader(first, &section)) {
            if (section == Section::Player) {
                StartPlayerList();
                stepIndex = 0;
            }
        } else if (section == Section::Player) {
            tail = stepIndex == kMaxPatchSteps;
            if (tail)
                NoteNewest(ReadLeadingDecimal(line));
            else
                ReadPlayerLine(line, more, &stepIndex);
        } else if (section != Section::None && found) {
            char* target = section == Section::Installer ? RequiredInstallerVersion : RequiredLauncherVersion;
            NextToken(line, target, kVersionTextSize);
        }
        if (more && section == Section::Player) SkipRestOfLine(file);
    }
    std::fclose(file);
    return 1;
}
