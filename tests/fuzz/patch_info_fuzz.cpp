// The patch information file as a server could send it. Input: 4 bytes of CurrentVersion
// (little-endian), then the file's bytes. After the parse the state must be what the download
// worker can walk safely: every text terminated inside its field, FileCount 0 to 16 with only
// the names in use filled, the steps in use all above CurrentVersion and the list ended by
// the first record of version 0, PatchFileTotal counting exactly the files of the list, flaws
// only on steps in use (a cut line only where a line was longer than one read), and every
// step the worker would apply (those before the first flawed one) taken from the start of a
// line of the file, as is the newest version. (Outside [PLAYER] a long line is read in pieces,
// each a line of its own, so a header may open in the middle of a line; in [PLAYER] the rest
// of a long line is skipped, which keeps every step at the start of a line.)
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "common/text_scan.h"
#include "settings/version_record.h"
#include "update/patch_info.h"

namespace {

bool IsEmptyStep(const PatchStep& step) {
    static const PatchStep kEmpty = {};
    return std::memcmp(&step, &kEmpty, sizeof step) == 0;
}

void CheckStep(const PatchStep& step) {
    FUZZ_CHECK(step.FileCount >= 0 && step.FileCount <= kMaxStepFiles);
    for (int f = 0; f < kMaxStepFiles; ++f) {
        const char* name = step.FileNames[f];
        FUZZ_CHECK(TerminatedWithin(name, kStepFileNameSize));
        if (f < step.FileCount) {
            FUZZ_CHECK(name[0] != '\0');
            // A name is one token of the line: no blank can be inside it.
            FUZZ_CHECK(std::strpbrk(name, " \t\r\n\v\f") == nullptr);
        } else {
            FUZZ_CHECK(name[0] == '\0');
        }
    }
}

// The parser reads a line in pieces of this many characters.
constexpr std::size_t kOneRead = kMaxLineLength;

// For the leading number of every line of the file (lines end at '\n' whatever their
// length): the length of its longest line, newline not counted.
std::map<int32_t, std::size_t> LineVersions(const uint8_t* text, std::size_t size) {
    std::map<int32_t, std::size_t> versions;
    std::size_t start = 0;
    while (start < size) {
        const void* newline = std::memchr(text + start, '\n', size - start);
        const std::size_t end = newline ? static_cast<std::size_t>(static_cast<const uint8_t*>(newline) - text) : size;
        const std::string line(reinterpret_cast<const char*>(text) + start, end - start);
        std::size_t& longest = versions[ReadLeadingDecimal(line.c_str())];
        longest = std::max(longest, line.size());
        start = end + 1;
    }
    return versions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    int32_t current = 0;
    std::memcpy(&current, data, sizeof current);
    CurrentVersion = current;

    ScratchFolder& folder = ScratchFolder::Get();
    if (!folder.Write("update.dat", data + 4, size - 4)) FuzzFail(__FILE__, __LINE__, "cannot write update.dat");
    ResetPatchInfo();
    FUZZ_CHECK(ParsePatchInfoFile(folder.PathIn("update.dat").c_str()) == 1);

    FUZZ_CHECK(TerminatedWithin(RequiredInstallerVersion, kVersionTextSize));
    FUZZ_CHECK(TerminatedWithin(RequiredLauncherVersion, kVersionTextSize));

    // The worker stops at the first version 0: everything after it must be empty, or files
    // counted in PatchFileTotal would never be fetched.
    int used = 0;
    while (used < kMaxPatchSteps && PatchList[used].Version != 0) ++used;
    int64_t files = 0;
    for (int s = 0; s < kMaxPatchSteps; ++s) {
        const PatchStep& step = PatchList[s];
        CheckStep(step);
        if (s < used) {
            FUZZ_CHECK(step.Version > current);
        } else if (!IsEmptyStep(step)) {
            FuzzFail(__FILE__, __LINE__, "a record past the list's end (the first version 0) is in use");
        }
        files += step.FileCount;
    }
    FUZZ_CHECK(files == PatchFileTotal);

    const std::map<int32_t, std::size_t> lineVersions = LineVersions(data + 4, size - 4);
    bool flawSeen = false;
    for (int s = 0; s < kMaxPatchSteps; ++s) {
        const uint8_t flaws = PatchStepFlaws[s];
        const PatchStep& step = PatchList[s];
        FUZZ_CHECK((flaws & ~(kStepExtraNames | kStepNameCut | kStepLineCut)) == 0);
        if (s >= used) FUZZ_CHECK(flaws == 0);
        if (flaws & kStepExtraNames) FUZZ_CHECK(step.FileCount == kMaxStepFiles);
        if (flaws & kStepNameCut) {
            bool cutName = false;
            for (int f = 0; f < step.FileCount; ++f)
                cutName = cutName || std::strlen(step.FileNames[f]) == kStepFileNameSize - 1;
            FUZZ_CHECK(cutName);
        }
        // A step refused for a cut line must have had a line longer than one read.
        if (flaws & kStepLineCut) {
            const auto line = lineVersions.find(step.Version);
            if (line == lineVersions.end() || line->second <= kOneRead)
                FuzzFail(__FILE__, __LINE__, "a step whose line fits one read is marked as cut");
        }
        flawSeen = flawSeen || flaws != 0;
        // A piece of a cut line is no step: the worker would fetch its "names" and record
        // its "version".
        if (s < used && !flawSeen && lineVersions.count(step.Version) == 0)
            FuzzFail(__FILE__, __LINE__, "a step the worker would apply does not start a line of the file");
    }
    if (LatestVersion != 0 && lineVersions.count(LatestVersion) == 0)
        FuzzFail(__FILE__, __LINE__, "the newest version does not start a line of the file");
    FUZZ_CHECK(PatchFileTotal <= kMaxPatchSteps * kMaxStepFiles);
    // A step stored means a version line was read, and the newest one read is never 0.
    if (used > 0) FUZZ_CHECK(LatestVersion != 0);
    return 0;
}
