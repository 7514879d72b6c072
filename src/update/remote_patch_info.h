// Fetching the patch server's patch information into "update.dat" and parsing it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kPatchInfoRequestSize = 1024;
constexpr const char* kPatchInfoFileName = "update.dat";

// Writes base + "?tick=" + tick in unsigned decimal into out (size bytes). base is used as it
// is: one that holds a query already gets a second "?". The tick only has to differ between
// fetches so that no cache answers. Returns 1, or 0 when the address does not fit (out then
// holds a cut, NUL-terminated text that must not be requested).
int BuildPatchInfoRequestUrl(const char* base, uint32_t tick, char* out, std::size_t size);

// Downloads LauncherSettings.PatchInfoUrl with the system's millisecond counter as the tick,
// over HTTPS, into "update.dat" in the working directory, then parses it into the patch
// information state. Returns ParsePatchInfo's 1 when both worked; 0 when the server could not
// be reached, answered with an error status, or the copy did not arrive whole or could not be
// stored. "update.dat" is then left as it was, and the copy there (the last complete one) is
// parsed again against the installed version, so that the pending steps are only those above
// it. A launcher with a signing key takes FetchSignedPatchInfo's road instead.
int FetchPatchInfo();
