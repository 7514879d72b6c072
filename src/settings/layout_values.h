// Numeric layout values that ApplySettings reads out of the settings texts.
#pragma once

#include <cstdint>

struct LauncherSettingsRecord;

struct ElementRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

enum ElementIndex : int {
    kElementStart = 0,
    kElementExit = 1,
    kElementHomePage = 2,
    kElementCommunity = 3,
    kElementBarTotal = 4,    // lower bar, ProgressTotal
    kElementBarCurrent = 5,  // upper bar, ProgressCurrent
    kElementCount = 6,
};

extern int32_t TextX;
extern int32_t TextY;
extern uint32_t TextColor;   // COLORREF 0x00BBGGRR
extern uint32_t TextColor2;  // parsed, not drawn
extern char FontFace[32];
extern int32_t FontHeight;
extern ElementRect ElementRects[kElementCount];
extern char HomePageLink[256];
extern char CommunityLink[256];

// Parses the layout texts into the values above, sets the first status text and the two
// links. A field that does not parse keeps its previous value. Returns 1.
int ApplySettings();

// ApplySettings over any record (ApplySettings uses the built-in LauncherSettings); every
// slot must be NUL-terminated within its 256 bytes.
int ApplySettingsFrom(const LauncherSettingsRecord& settings);

// "%d %d" into left and top of rect; fields that do not parse keep their values.
void ParseElementPosition(const char* text, ElementRect* rect);
