// The channel names, addresses and floor value names of the patch information's channels.
#include "update/patch_channel.h"

#include <cstring>

#include "common/bounded_text.h"
#include "settings/launcher_settings.h"

char PatchChannel[kChannelNameSize] = "live";
int PatchChannelSwitch = 0;

int IsChannelName(const char* text) {
    if (!text) return 0;
    std::size_t length = 0;
    for (; text[length]; ++length) {
        const char c = text[length];
        if (length + 1 >= kChannelNameSize) return 0;
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return 0;
    }
    return length > 0 ? 1 : 0;
}

int ChannelPatchInfoUrl(const char* channel, char* out, std::size_t size) {
    if (!IsChannelName(channel)) return 0;
    if (std::strcmp(channel, kLiveChannel) == 0) return CopyText(out, size, LauncherSettings.PatchInfoUrl) ? 1 : 0;
    return FormatText(out, size, "%s/channels/%s/%s", LauncherSettings.PatchBaseUrl, channel,
                      LauncherSettings.PatchInfoFileName)
               ? 1
               : 0;
}

int ChannelFloorValueName(const char* channel, char* out, std::size_t size) {
    if (!IsChannelName(channel)) return 0;
    if (std::strcmp(channel, kLiveChannel) == 0) return CopyText(out, size, "ManifestSequence") ? 1 : 0;
    return FormatText(out, size, "ManifestSequence.%s", channel) ? 1 : 0;
}
