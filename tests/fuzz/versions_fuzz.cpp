// Version texts and the start-up decision. Input: three texts ended by '\n' (a missing one is
// empty), then up to 16 bytes of four little-endian numbers for DecideUpdateRoad.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/bounded_text.h"
#include "fuzz_support.h"
#include "update/patch_info.h"
#include "update/versions.h"

namespace {

// "%d.%d.%d.%d" as the header puts it, through sscanf; only comparable while no number
// overflows 32 bits, where sscanf's result is not defined.
bool ScanLikePrintf(const char* text, VersionQuad* v) {
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') continue;
        while (*p == '0') ++p;
        std::size_t digits = 0;
        while (p[digits] >= '0' && p[digits] <= '9') ++digits;
        if (digits > 9) return false;
        p += digits;
        if (!*p) break;
    }
    int f[4] = {0, 0, 0, 0};
    std::sscanf(text, "%d.%d.%d.%d", &f[0], &f[1], &f[2], &f[3]);
    for (int i = 0; i < 4; ++i) v->field[i] = f[i];
    return true;
}

bool SameQuad(const VersionQuad& a, const VersionQuad& b) {
    return std::memcmp(a.field, b.field, sizeof a.field) == 0;
}

void CheckOrder(const VersionQuad& a, const VersionQuad& b, const VersionQuad& c) {
    const int ab = CompareVersions(a, b), ba = CompareVersions(b, a);
    const int bc = CompareVersions(b, c), ac = CompareVersions(a, c);
    FUZZ_CHECK(ab >= -1 && ab <= 1);
    FUZZ_CHECK(CompareVersions(a, a) == 0);
    FUZZ_CHECK(ab == -ba);
    FUZZ_CHECK((ab == 0) == SameQuad(a, b));
    if (ab <= 0 && bc <= 0) FUZZ_CHECK(ac <= 0);
    if (ab < 0 && bc <= 0) FUZZ_CHECK(ac < 0);
    if (ab == 0 && bc == 0) FUZZ_CHECK(ac == 0);
}

void CheckRoad(int installer, int launcher, int32_t latest, int32_t current) {
    UpdateRoad road = DecideUpdateRoad(installer, launcher, latest, current);
    FUZZ_CHECK(std::strcmp(UpdateRoadName(road), "?") != 0);
    const bool handOver = road == UpdateRoad::InstallerUpdate || road == UpdateRoad::LauncherUpdate;
    // A hand-over is asked for exactly; anything but 1 means "not needed".
    FUZZ_CHECK(handOver == (installer == 1 || launcher == 1));
    if (handOver) return;
    // Patches never cross a series, and "ready" only when the client is the newest.
    FUZZ_CHECK((road == UpdateRoad::ReinstallClient) == (VersionSeries(latest) != VersionSeries(current)));
    FUZZ_CHECK((road == UpdateRoad::Ready) == (road != UpdateRoad::ReinstallClient && latest == current));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string texts[3];
    std::size_t at = 0;
    for (std::string& text : texts) {
        const void* end = at < size ? std::memchr(data + at, '\n', size - at) : nullptr;
        std::size_t stop = end ? static_cast<std::size_t>(static_cast<const uint8_t*>(end) - data) : size;
        text.assign(reinterpret_cast<const char*>(data) + at, stop - at);
        at = end ? stop + 1 : size;
        text.resize(std::strlen(text.c_str()));  // as a C text, up to a NUL
    }
    int32_t numbers[4] = {0, 0, 0, 0};
    std::memcpy(numbers, data + at, std::min(sizeof numbers, size - at));

    VersionQuad quads[3];
    for (int i = 0; i < 3; ++i) {
        quads[i] = ReadVersionText(texts[i].c_str());
        VersionQuad scanned;
        if (ScanLikePrintf(texts[i].c_str(), &scanned)) FUZZ_CHECK(SameQuad(quads[i], scanned));
    }
    CheckOrder(quads[0], quads[1], quads[2]);
    CheckOrder(quads[2], quads[0], quads[1]);

    // The launcher's own version against the required one from the patch information.
    LauncherVersion = quads[0];
    CopyText(RequiredLauncherVersion, texts[1].c_str());
    FUZZ_CHECK(IsLauncherUpdateNeeded() ==
               (CompareVersions(quads[0], ReadVersionText(RequiredLauncherVersion)) < 0 ? 1 : 0));

    CheckRoad(numbers[0], numbers[1], numbers[2], numbers[3]);
    // The shapes start-up really passes: flags of 0 or 1, versions from the texts.
    CheckRoad(numbers[0] & 1, numbers[1] & 1, quads[1].field[0], quads[2].field[0]);
    return 0;
}
