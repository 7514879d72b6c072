// The skin's GDI side: bitmaps, back buffer, opacity mask, font and the DCs that hold them
// (frame_win32.h composes and presents a frame with them).
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

// Releases the pictures, the back buffer, the font and the mask at process end.
void ReleaseSkin();

// The memory DC that holds BackBuffer selected (made on first use); composition draws into
// it and presentation copies from it.
HDC BackBufferDc();
void ReleaseBackBufferDc();

// The memory DC that holds picture selected, made on first use and kept for the process:
// selecting a bitmap costs far more than copying one of the small pictures. Null when no DC
// could be made or every slot holds another picture.
HDC PictureDc(HBITMAP picture);
