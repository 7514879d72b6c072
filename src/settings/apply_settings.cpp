// ApplySettings: turns the built-in layout texts into positions, colours and the font.
#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "settings/launcher_settings.h"
#include "settings/layout_values.h"

int32_t TextX = 200;
int32_t TextY = 200;
uint32_t TextColor = 0x00FFFFFF;
uint32_t TextColor2 = 0x00FF8000;
char FontFace[32] = "Fixedsys";
int32_t FontHeight = 16;
ElementRect ElementRects[kElementCount] = {};
char HomePageLink[256] = {0};
char CommunityLink[256] = {0};

void ParseElementPosition(const char* text, ElementRect* rect) {
    int left = 0, top = 0;
    int fields = std::sscanf(text, "%d %d", &left, &top);
    if (fields >= 1) rect->left = left;
    if (fields >= 2) rect->top = top;
}

namespace {

// "%d %d %x %x %s %d"; the face field is read with a width so a long name is cut at 31
// bytes instead of overrunning FontFace; the rest of a long name is skipped.
void ParseStatusStyle(const char* text) {
    int x = 0, y = 0, height = 0;
    unsigned color = 0, color2 = 0;
    char face[32] = {0};
    int consumed = 0;
    int fields = std::sscanf(text, "%d %d %x %x %31s%n", &x, &y, &color, &color2, face, &consumed);
    if (fields >= 1) TextX = x;
    if (fields >= 2) TextY = y;
    if (fields >= 3) TextColor = color;
    if (fields >= 4) TextColor2 = color2;
    if (fields < 5) return;
    CopyText(FontFace, face);
    const char* rest = text + consumed;
    while (*rest && *rest != ' ' && *rest != '\t') ++rest;
    if (std::sscanf(rest, "%d", &height) == 1) FontHeight = height;
}

}  // namespace

int ApplySettingsFrom(const LauncherSettingsRecord& settings) {
    ParseStatusStyle(settings.StatusTextStyle);
    ParseElementPosition(settings.ButtonPos0, &ElementRects[kElementStart]);
    ParseElementPosition(settings.ButtonPos1, &ElementRects[kElementExit]);
    ParseElementPosition(settings.ButtonPos2, &ElementRects[kElementHomePage]);
    ParseElementPosition(settings.ButtonPos3, &ElementRects[kElementCommunity]);
    ParseElementPosition(settings.ProgressPosCurrent, &ElementRects[kElementBarCurrent]);
    ParseElementPosition(settings.ProgressPosTotal, &ElementRects[kElementBarTotal]);
    StatusText.Set(settings.MsgInitializing);
    CopyText(HomePageLink, settings.HomePageUrl);
    CopyText(CommunityLink, settings.CommunityUrl);
    return 1;
}

int ApplySettings() { return ApplySettingsFrom(LauncherSettings); }
