// The patch-information fetch at start-up: download with a fresh tick, store, parse.
#include <windows.h>
#include <mmsystem.h>

#include "settings/launcher_settings.h"
#include "update/http_transfer.h"
#include "update/manifest_trust.h"
#include "update/patch_info.h"
#include "update/remote_patch_info.h"
#include "update/signed_patch_info.h"
#include "update/signing_key.h"

int FetchPatchInfo() {
    if (SigningKeyPresent) {
        EstablishManifestTrust(FetchRootBesidePatchInfo);
        return FetchSignedPatchInfo(TrustedSigners);
    }
    const DWORD tick = timeGetTime();
    char request[kPatchInfoRequestSize];
    static_assert(kPatchInfoRequestSize >= sizeof LauncherSettings.PatchInfoUrl + sizeof "?tick=4294967295",
                  "every built-in address with its tick fits the request");
    BuildPatchInfoRequestUrl(LauncherSettings.PatchInfoUrl, tick, request, sizeof request);
    // Secure whatever the scheme: the patch information is only ever published over HTTPS.
    if (DownloadCompleteUrlToFile(request, kPatchInfoFileName, 1) != kTransferDone) {
        // The parse at start-up ran before the installed version was known, so its list still
        // holds the steps already applied; the worker would fetch them again and record their
        // older versions. The copy kept here is measured against the installed version instead.
        ParsePatchInfo();
        return 0;
    }
    return ParsePatchInfo();
}
