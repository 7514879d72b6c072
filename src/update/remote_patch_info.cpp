// The address each patch-information fetch requests.
#include "update/remote_patch_info.h"

#include "common/bounded_text.h"

int BuildPatchInfoRequestUrl(const char* base, uint32_t tick, char* out, std::size_t size) {
    return FormatText(out, size, "%s?tick=%u", base, static_cast<unsigned>(tick)) ? 1 : 0;
}
