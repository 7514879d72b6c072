// The skin's GDI side: bitmaps, back buffer, opacity mask, font, composition, presentation.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int kSkinImageSlots = 20;

extern HBITMAP BackgroundImage;               // 204: the whole window, fixes its size
extern HBITMAP MaskImage;                     // 205: brightness is opacity
extern HBITMAP SkinImages[kSkinImageSlots];   // 0..11 button states, 12..13 bars
extern HFONT SkinFont;
extern uint8_t* AlphaMask;                    // one byte per pixel, back-buffer memory order
extern HBITMAP BackBuffer;                    // 32-bpp bottom-up DIB section of WindowSize
extern uint8_t* BackBufferPixels;

struct Placement {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
extern Placement LayeredPlacement;

// Loads 204, 205 and the fourteen state and bar pictures from the module's resources;
// a missing picture leaves its handle empty.
void LoadSkinImages(HINSTANCE instance);

// Sets right and bottom of the six element rectangles from the pictures' sizes; a missing
// picture gives a rectangle of size 0 (nothing to hit, nothing drawn).
void CompleteElementRects();

// Width and height of a bitmap; 0, 0 when there is none.
SIZE BitmapSize(HBITMAP bitmap);

HBITMAP CreateBackBuffer(int32_t width, int32_t height, uint8_t** pixels);
void BuildAlphaMask();
HFONT CreateSkinFont();

// Draws a frame into BackBuffer when the display state changed since the last one; true
// when a new frame is ready. A frame that could not be drawn (no drawing context) returns
// false and is drawn at the next call. Window thread only.
bool ComposeFrame();
// Shows BackBuffer in MainWindow; a layered window that already shows this frame at this
// place is not handed it again.
void PresentFrame();
// Shows BackBuffer even when the window was handed this frame already: after a paint request
// or a display change the system may no longer show it.
void PresentFrameAgain();

// Releases the pictures, the back buffer, the font and the mask at process end.
void ReleaseSkin();

// The memory DC that holds BackBuffer selected (made on first use); composition draws into
// it and presentation copies from it.
HDC BackBufferDc();
void ReleaseBackBufferDc();

// Releases the memory DCs in which the frame code keeps the pictures selected.
void ReleaseFrameResources();

// Forgets the last-drawn record so the next ComposeFrame draws (tests, and a re-created buffer).
void ResetDrawnRecord();
