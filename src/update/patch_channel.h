// The release channel whose patch information and signed manifest a launcher fetches: live at
// the patch base itself, any other under channels/NAME/ of it, sharing the base's Content/.
#pragma once

#include <cstddef>

// A name is 1 to 32 of a-z, 0-9 and "-": it becomes a folder of an address and part of a
// registry value name, so nothing else ever passes.
constexpr std::size_t kChannelNameSize = 33;
constexpr const char* kLiveChannel = "live";

// The channel this start fetches; "live" unless start-up chose another. Written on the main
// thread before any worker starts, only read afterwards. The Updater never changes it: its
// self-updates follow live.
extern char PatchChannel[kChannelNameSize];

// 1 while PatchChannel is not the channel that "update.dat" and "update.manifest" came from
// (the player is switching): the kept manifest then floors nothing, its sequence being
// another channel's. Same thread rules as PatchChannel.
extern int PatchChannelSwitch;

// 1 when text is a channel name ([a-z0-9-]{1,32}), 0 otherwise (null included).
int IsChannelName(const char* text);

// The address of channel's patch information: LauncherSettings.PatchInfoUrl for live,
// PatchBaseUrl + "/channels/" + channel + "/LauncherPatchInfo.txt" otherwise. Returns 1, or 0
// when channel is no name or the address does not fit out (size bytes).
int ChannelPatchInfoUrl(const char* channel, char* out, std::size_t size);

// The registry value that holds channel's rollback floor: "ManifestSequence" for live, as
// before channels, "ManifestSequence." + channel otherwise. Returns 1, or 0 as above.
int ChannelFloorValueName(const char* channel, char* out, std::size_t size);
