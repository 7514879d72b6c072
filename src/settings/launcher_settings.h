// The built-in settings record: 32 fixed text slots of 256 bytes, constant for the process.
#pragma once

#include <cstddef>

constexpr std::size_t kSettingSize = 256;

struct LauncherSettingsRecord {
    char SectionMarker[kSettingSize];
    char PatchBaseUrl[kSettingSize];
    char PatchInfoUrl[kSettingSize];
    char CdnRootUrl[kSettingSize];
    char ChannelName[kSettingSize];
    char PlatformFolder[kSettingSize];
    char PatchInfoFileName[kSettingSize];
    char WebPanelSpec[kSettingSize];
    char GameExecutable[kSettingSize];
    char StatusTextStyle[kSettingSize];
    char ButtonPos0[kSettingSize];
    char ButtonPos1[kSettingSize];
    char ButtonPos2[kSettingSize];
    char ButtonPos3[kSettingSize];
    char ProgressPosCurrent[kSettingSize];
    char ProgressPosTotal[kSettingSize];
    char HomePageUrl[kSettingSize];
    char CommunityUrl[kSettingSize];
    char MsgInitializing[kSettingSize];
    char MsgCheckingVersion[kSettingSize];
    char MsgDownloading[kSettingSize];
    char MsgReady[kSettingSize];
    char MsgServerUnreachable[kSettingSize];
    char MsgReinstallClient[kSettingSize];
    char MsgSaved[kSettingSize];
    char MsgReset[kSettingSize];
    char ExtraTextStyle[kSettingSize];
    char MsgConfigMissing[kSettingSize];
    char ErrorCaption[kSettingSize];
    char MsgConfigIncorrect[kSettingSize];
    char MsgVersionMissing[kSettingSize];
    char MsgAbnormalRun[kSettingSize];
};

constexpr std::size_t kSettingSlotCount = sizeof(LauncherSettingsRecord) / kSettingSize;
static_assert(kSettingSlotCount == 32, "the settings record has 32 slots");

// Texts are in the ANSI code page (Korean ones CP949). Nothing writes them.
extern const LauncherSettingsRecord LauncherSettings;

// Slot i of the record, for code that walks all of them (0 to 31).
const char* SettingSlot(std::size_t index);
