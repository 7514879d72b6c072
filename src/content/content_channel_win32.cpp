// The player's release channel: taken from the command line, kept in the machine's registry
// beside the channel's rollback floor, and switched only once the new channel verified.
#include "content/content_channel_win32.h"

#include <windows.h>

#include <cstring>

#include "build_settings.h"
#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/process_state.h"
#include "common/win32_handle.h"
#include "content/content_mode.h"
#include "content/content_text.h"
#include "content/rollout_bucket_win32.h"
#include "content/verify_argument.h"
#include "update/patch_channel.h"
#include "update/patch_info.h"
#include "update/remote_patch_info.h"
#include "update/sequence_floor_win32.h"
#include "update/signed_patch_info.h"
#include "update/signing_key.h"
#include "update/versions_win32.h"

namespace {

// The channel of the kept files, and the one a refused switch asked for; main thread only.
char KeptChannel[kChannelNameSize] = "";
char RefusedChannel[kChannelNameSize] = "";

// The kept choice into name; 0 when there is none or it is no channel name. The value is the
// player's choice, not a secret; only an elevated program writes here, and a name is checked
// as strictly as one from the command line, since it becomes part of an address.
int ReadKeptChannel(char* name, std::size_t size) {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) return 0;
    char value[kChannelNameSize + 1] = "";
    DWORD type = 0;
    DWORD length = sizeof value - 1;
    status = RegQueryValueExA(key.Get(), kChannelValueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &length);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("channel value", kChannelValueName, status);
        return 0;
    }
    if (type != REG_SZ || !IsChannelName(value)) {
        TraceFailure("channel value", kChannelValueName, ERROR_INVALID_DATA);
        return 0;
    }
    return CopyText(name, size, value) ? 1 : 0;
}

void KeepChannel(const char* name) {
    SetInstallationValue("channel", kChannelValueName, REG_SZ, name, static_cast<DWORD>(std::strlen(name) + 1));
}

void ShowRefusal() { StatusText.Format(ContentText.ChannelMissing, RefusedChannel, KeptChannel); }

}  // namespace

void ChooseContentChannel() {
    if (!ContentPatchingBuilt) return;
    if (!ReadKeptChannel(KeptChannel, sizeof KeptChannel)) CopyText(KeptChannel, LAUNCHER_CONTENT_CHANNEL);
    char asked[kChannelNameSize] = "";
    const int taken = TakeChannelArgument(LauncherCommandLine, asked, sizeof asked);
    if (taken < 0) TraceFailure("channel argument", kChannelArgument, ERROR_INVALID_NAME);
    CopyText(PatchChannel, taken > 0 ? asked : KeptChannel);
    PatchChannelSwitch = std::strcmp(PatchChannel, KeptChannel) != 0 ? 1 : 0;
}

namespace {

int FetchChannel() {
    if (!PatchChannelSwitch) return FetchPatchInfo();
    if (FetchPatchInfo()) {
        KeepChannel(PatchChannel);
        PatchChannelSwitch = 0;
        return 1;
    }
    // Back to the kept channel's files and floor, untouched by the failed fetch.
    CopyText(RefusedChannel, PatchChannel);
    CopyText(PatchChannel, KeptChannel);
    PatchChannelSwitch = 0;
    if (SigningKeyPresent) LoadKeptManifest(TrustedSigners);
    ParsePatchInfo();
    return 0;
}

}  // namespace

int FetchContentChannel() {
    const int fetched = FetchChannel();
    // Whichever file the decision works on, fetched or kept, an install outside its rollout
    // sees the release before as the newest.
    if (ContentPatchingBuilt) ApplyRollout();
    return fetched;
}

void RestateRefusedChannel() {
    if (RefusedChannel[0]) ShowRefusal();
}
