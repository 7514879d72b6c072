// The verified manifest's state and the addresses of the files beside the patch information.
#include "update/signed_patch_info.h"

#include <cstring>

#include "common/bounded_text.h"
#include "update/signing_key.h"

Manifest VerifiedManifest;
int ManifestRequired = SigningKeyPresent;

int BuildSideFileRequestUrl(const char* patchInfoUrl, const char* name, uint32_t tick, char* out,
                            std::size_t size) {
    const char* slash = std::strrchr(patchInfoUrl, '/');
    if (!slash) return 0;
    const int folderLength = static_cast<int>(slash - patchInfoUrl + 1);
    return FormatText(out, size, "%.*s%s?tick=%u", folderLength, patchInfoUrl, name, static_cast<unsigned>(tick)) ? 1
                                                                                                              : 0;
}
