// The built-in values of the settings record; addresses and names come from the build.
#include "settings/launcher_settings.h"

#include "build_settings.h"

#ifndef LAUNCHER_TEXT_MsgInitializing
#define LAUNCHER_TEXT_MsgInitializing "초기화 중입니다.."
#endif
#ifndef LAUNCHER_TEXT_MsgCheckingVersion
#define LAUNCHER_TEXT_MsgCheckingVersion "현재 버전을 체크중입니다."
#endif
#ifndef LAUNCHER_TEXT_MsgDownloading
#define LAUNCHER_TEXT_MsgDownloading "[% s] 파일을 다운로드 중입니다."
#endif
#ifndef LAUNCHER_TEXT_MsgReady
#define LAUNCHER_TEXT_MsgReady "게임을 시작할 준비가 되었습니다. [버전:% d]"
#endif
#ifndef LAUNCHER_TEXT_MsgServerUnreachable
#define LAUNCHER_TEXT_MsgServerUnreachable "정보를 서버로부터 가지고 올 수 없습니다."
#endif
#ifndef LAUNCHER_TEXT_MsgReinstallClient
#define LAUNCHER_TEXT_MsgReinstallClient "인스톨용 클라이언트를 다시 받아주세요."
#endif
#ifndef LAUNCHER_TEXT_MsgSaved
#define LAUNCHER_TEXT_MsgSaved "저장되었습니다"
#endif
#ifndef LAUNCHER_TEXT_MsgReset
#define LAUNCHER_TEXT_MsgReset "초기화되었습니다"
#endif
#ifndef LAUNCHER_TEXT_MsgConfigMissing
#define LAUNCHER_TEXT_MsgConfigMissing "환경설정 파일을 찾을수 없습니다.\n그래서환경설정을 초기화 합니다."
#endif
#ifndef LAUNCHER_TEXT_ErrorCaption
#define LAUNCHER_TEXT_ErrorCaption "에러"
#endif
#ifndef LAUNCHER_TEXT_MsgConfigIncorrect
#define LAUNCHER_TEXT_MsgConfigIncorrect "config.txt is incorrect."
#endif
#ifndef LAUNCHER_TEXT_MsgVersionMissing
#define LAUNCHER_TEXT_MsgVersionMissing "환경설정 파일에서 Version을 찾을 수 없습니다. \nVersion을 초기화합니다."
#endif
#ifndef LAUNCHER_TEXT_MsgAbnormalRun
#define LAUNCHER_TEXT_MsgAbnormalRun "런처가 정상적으로 실행되지 못했습니다.다시 실행해 주십시오."
#endif

// A value longer than its 256-byte slot is a compile error here, so a branded build
// can never carry a truncated address.
const LauncherSettingsRecord LauncherSettings = {
    "[QOR]",
    LAUNCHER_PATCH_BASE_URL,
    LAUNCHER_PATCH_BASE_URL "/LauncherPatchInfo.txt",
    LAUNCHER_CDN_ROOT_URL,
    LAUNCHER_CHANNEL_NAME,
    "StandaloneWindows64",
    "LauncherPatchInfo.txt",
    "33 136 405 195 " LAUNCHER_WEB_PANEL_URL,
    LAUNCHER_GAME_EXECUTABLE,
    "140 340 00FFFFFF 00212018 돋움 11",
    "20  349",
    "335 364",
    "138 364",
    "237 364",
    "141 418",
    "141 430",
    LAUNCHER_HOME_PAGE_URL,
    LAUNCHER_COMMUNITY_URL,
    LAUNCHER_TEXT_MsgInitializing,
    LAUNCHER_TEXT_MsgCheckingVersion,
    LAUNCHER_TEXT_MsgDownloading,
    LAUNCHER_TEXT_MsgReady,
    LAUNCHER_TEXT_MsgServerUnreachable,
    LAUNCHER_TEXT_MsgReinstallClient,
    LAUNCHER_TEXT_MsgSaved,
    LAUNCHER_TEXT_MsgReset,
    "00BBBBBB 00DDDDDD 00FFFFFF 돋움 13 4 2",
    LAUNCHER_TEXT_MsgConfigMissing,
    LAUNCHER_TEXT_ErrorCaption,
    LAUNCHER_TEXT_MsgConfigIncorrect,
    LAUNCHER_TEXT_MsgVersionMissing,
    LAUNCHER_TEXT_MsgAbnormalRun,
};

const char* SettingSlot(std::size_t index) {
    if (index >= kSettingSlotCount) return "";
    return reinterpret_cast<const char*>(&LauncherSettings) + index * kSettingSize;
}
