// ReadRollout, RolloutTarget and HoldBackTo over the patch information's state.
#include "update/rollout.h"

#include <cstdio>
#include <cstring>

#include "common/text_scan.h"
#include "update/patch_info.h"

namespace {

enum class Section { Before, Rollout, Player, Other };

Section SectionOf(const char* line, Section now) {
    const char* at = line;
    while (*at == ' ' || *at == '\t') ++at;
    if (*at != '[') return now;
    if (std::strncmp(at, "[ROLLOUT]", 9) == 0) return now == Section::Before ? Section::Rollout : Section::Other;
    return std::strncmp(at, "[PLAYER]", 8) == 0 ? Section::Player : Section::Other;
}

// "VERSION PERCENT" and nothing else.
bool ReadRolloutLine(const char* line, RolloutState* out) {
    const char* rest = nullptr;
    const int32_t version = ReadLeadingDecimal(line, &rest);
    if (version <= 0 || rest == line || (*rest != ' ' && *rest != '\t')) return false;
    const char* number = rest;
    while (*number == ' ' || *number == '\t') ++number;
    const int32_t percent = ReadLeadingDecimal(number, &rest);
    if (rest == number || percent < 0 || percent > 100) return false;
    while (*rest == ' ' || *rest == '\t' || *rest == '\r' || *rest == '\n') ++rest;
    if (*rest != '\0') return false;
    out->Version = version;
    out->Percent = percent;
    return true;
}

}  // namespace

int ReadRollout(const char* path, RolloutState* out) {
    *out = RolloutState{};
    std::FILE* file = std::fopen(path, "r");
    if (!file) return 0;
    RolloutState found;
    int32_t versions[2048];  // the [PLAYER] releases, for the one below the rollout's
    int count = 0, rolloutLines = 0;
    bool whole = true;  // the piece read begins a line: a long line's rest is never a line of its own
    Section section = Section::Before;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        const bool begins = whole;
        whole = std::strchr(line, '\n') != nullptr;
        if (!begins) continue;
        const Section next = SectionOf(line, section);
        if (next != section) {
            section = next;
            continue;
        }
        if (section == Section::Rollout && ++rolloutLines == 1 && !ReadRolloutLine(line, &found)) rolloutLines = 2;
        if (section == Section::Player && count < static_cast<int>(sizeof versions / sizeof versions[0])) {
            const int32_t version = ReadLeadingDecimal(line);
            if (version > 0) versions[count++] = version;
        }
    }
    std::fclose(file);
    if (rolloutLines != 1) return 1;
    for (int i = 0; i < count; ++i)
        if (versions[i] < found.Version && versions[i] > found.Previous) found.Previous = versions[i];
    *out = found;
    return 1;
}

int32_t RolloutTarget(const RolloutState& rollout, int32_t newest, uint32_t bucket, int32_t current) {
    if (rollout.Version <= 0 || rollout.Version != newest || current >= newest) return newest;
    if (bucket < static_cast<uint32_t>(rollout.Percent)) return newest;
    if (rollout.Previous <= 0) return newest;  // nothing else to install
    return current > rollout.Previous ? current : rollout.Previous;
}

void HoldBackTo(int32_t target) {
    if (target >= NewestPlayerVersion) return;
    NewestPlayerVersion = target;
    LatestVersion = target;
    for (int i = 0; i < kMaxPatchSteps; ++i) {
        if (PatchList[i].Version <= target || PatchList[i].Version == 0) continue;
        PatchFileTotal -= PatchList[i].FileCount;
        std::memmove(&PatchList[i], &PatchList[i + 1], sizeof PatchList[0] * (kMaxPatchSteps - 1 - i));
        std::memmove(&PatchStepFlaws[i], &PatchStepFlaws[i + 1], kMaxPatchSteps - 1 - i);
        PatchList[kMaxPatchSteps - 1] = PatchStep{};
        PatchStepFlaws[kMaxPatchSteps - 1] = 0;
        --i;
    }
}
