// The content mode's status texts: Korean defaults (the build stores them in CP949, like the
// settings' messages), each replaced by a ContentNAME= line of the build's messages file.
#include "content/content_text.h"

#include "build_settings.h"

#ifndef LAUNCHER_TEXT_ContentChecking
#define LAUNCHER_TEXT_ContentChecking "파일 확인 중..."  // Checking files...
#endif
#ifndef LAUNCHER_TEXT_ContentFetching
#define LAUNCHER_TEXT_ContentFetching "내려받는 중 (%u / %u KB)"  // Downloading (%u / %u KB)
#endif
#ifndef LAUNCHER_TEXT_ContentFetchingRate
#define LAUNCHER_TEXT_ContentFetchingRate "내려받는 중 (%u / %u KB, %u KB/s, %u:%02u 남음)"  // Downloading (%u / %u KB, %u KB/s, %u:%02u left)
#endif
#ifndef LAUNCHER_TEXT_ContentBuilding
#define LAUNCHER_TEXT_ContentBuilding "파일 만드는 중: %s (%u / %u KB)"  // Building %s (%u / %u KB)
#endif
#ifndef LAUNCHER_TEXT_ContentReleaseFailed
#define LAUNCHER_TEXT_ContentReleaseFailed "릴리스 확인 실패 (%s)"  // Release check failed (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentFetchFailed
#define LAUNCHER_TEXT_ContentFetchFailed "내려받기 실패 (%s)"  // Downloading failed (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentFileFailed
#define LAUNCHER_TEXT_ContentFileFailed "파일 만들기 실패 (%s)"  // Building failed (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentDiskFull
#define LAUNCHER_TEXT_ContentDiskFull "디스크 공간이 부족합니다 (%u MB 필요, %u MB 남음)"  // Not enough disk space (%u MB needed, %u MB free)
#endif
#ifndef LAUNCHER_TEXT_ContentRetrying
#define LAUNCHER_TEXT_ContentRetrying "%u초 후 다시 시도 (%s)"  // Retrying in %u s (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentUnavailable
#define LAUNCHER_TEXT_ContentUnavailable "서버에 릴리스 %u 없음 (%s)"  // Release %u is not on the server (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentHeld
#define LAUNCHER_TEXT_ContentHeld "사용 중인 파일: %s (사용하는 프로그램을 닫아 주세요)"  // File in use: %s (close the program that uses it)
#endif

#ifndef LAUNCHER_TEXT_ContentVerifying
#define LAUNCHER_TEXT_ContentVerifying "파일 검사 중 (%u / %u KB)"  // Verifying files (%u / %u KB)
#endif
#ifndef LAUNCHER_TEXT_ContentVerified
#define LAUNCHER_TEXT_ContentVerified "게임을 시작할 준비가 되었습니다. [버전: %d] 복구한 파일: %u개"  // Ready to start. [Version: %d] %u files repaired
#endif
#ifndef LAUNCHER_TEXT_ContentTooLarge
#if defined(_WIN64)
#define LAUNCHER_TEXT_ContentTooLarge "릴리스가 너무 큽니다 (%s)"  // The release is too large (%s)
#else
#define LAUNCHER_TEXT_ContentTooLarge "릴리스가 32비트 런처에는 너무 큽니다 (%s)"  // The release is too large for a 32-bit launcher (%s)
#endif
#endif
#ifndef LAUNCHER_TEXT_ContentOutOfMemory
#define LAUNCHER_TEXT_ContentOutOfMemory "메모리가 부족합니다 (%s)"  // Not enough memory (%s)
#endif
#ifndef LAUNCHER_TEXT_ContentLinked
#define LAUNCHER_TEXT_ContentLinked "링크를 따라가지 않습니다 (%s)"  // Links are not followed (%s)
#endif

#ifndef LAUNCHER_TEXT_ContentPaused
#define LAUNCHER_TEXT_ContentPaused "일시 정지됨 (%u / %u KB)"  // Paused (%u / %u KB)
#endif
#ifndef LAUNCHER_TEXT_ContentMenuPause
#define LAUNCHER_TEXT_ContentMenuPause "일시 정지"  // Pause
#endif
#ifndef LAUNCHER_TEXT_ContentMenuResume
#define LAUNCHER_TEXT_ContentMenuResume "이어 받기"  // Resume
#endif
#ifndef LAUNCHER_TEXT_ContentMenuSpeed
#define LAUNCHER_TEXT_ContentMenuSpeed "속도 제한"  // Speed limit
#endif
#ifndef LAUNCHER_TEXT_ContentMenuSpeedOff
#define LAUNCHER_TEXT_ContentMenuSpeedOff "제한 없음"  // No limit
#endif
#ifndef LAUNCHER_TEXT_ContentMenuSpeedRate
#define LAUNCHER_TEXT_ContentMenuSpeedRate "%u MB/s"  // %u MB/s
#endif
#ifndef LAUNCHER_TEXT_ContentMenuRepair
#define LAUNCHER_TEXT_ContentMenuRepair "게임 파일 복구"  // Repair the game files
#endif
#ifndef LAUNCHER_TEXT_ContentMenuOpenFolder
#define LAUNCHER_TEXT_ContentMenuOpenFolder "게임 폴더 열기"  // Open the game folder
#endif

// Release channels (--channel NAME)
#ifndef LAUNCHER_TEXT_ContentChannelMissing
#define LAUNCHER_TEXT_ContentChannelMissing "서버에 [%s] 채널이 없습니다. [%s] 채널을 유지합니다."  // The server has no channel %s; the launcher stays on %s
#endif

ContentTexts ContentText = {
    LAUNCHER_TEXT_ContentChecking,
    LAUNCHER_TEXT_ContentFetching,
    LAUNCHER_TEXT_ContentFetchingRate,
    LAUNCHER_TEXT_ContentBuilding,
    LAUNCHER_TEXT_ContentReleaseFailed,
    LAUNCHER_TEXT_ContentFetchFailed,
    LAUNCHER_TEXT_ContentFileFailed,
    LAUNCHER_TEXT_ContentDiskFull,
    LAUNCHER_TEXT_ContentRetrying,
    LAUNCHER_TEXT_ContentUnavailable,
    LAUNCHER_TEXT_ContentHeld,
    LAUNCHER_TEXT_ContentVerifying,
    LAUNCHER_TEXT_ContentVerified,
    LAUNCHER_TEXT_ContentLinked,
    LAUNCHER_TEXT_ContentTooLarge,
    LAUNCHER_TEXT_ContentOutOfMemory,
    LAUNCHER_TEXT_ContentPaused,
    LAUNCHER_TEXT_ContentMenuPause,
    LAUNCHER_TEXT_ContentMenuResume,
    LAUNCHER_TEXT_ContentMenuSpeed,
    LAUNCHER_TEXT_ContentMenuSpeedOff,
    LAUNCHER_TEXT_ContentMenuSpeedRate,
    LAUNCHER_TEXT_ContentMenuRepair,
    LAUNCHER_TEXT_ContentMenuOpenFolder,
    LAUNCHER_TEXT_ContentChannelMissing,
};
