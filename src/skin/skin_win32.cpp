// Loading the skin pictures, the back buffer and the opacity mask.
#include "skin/skin_win32.h"

#include <cstdlib>
#include <cstring>

#include "common/process_state.h"
#include "common/win32_handle.h"
#include "settings/layout_values.h"
#include "skin/layout.h"
#include "skin/pixels.h"

HBITMAP BackgroundImage = nullptr;
HBITMAP MaskImage = nullptr;
HBITMAP SkinImages[kSkinImageSlots] = {};
HFONT SkinFont = nullptr;
uint8_t* AlphaMask = nullptr;
HBITMAP BackBuffer = nullptr;
uint8_t* BackBufferPixels = nullptr;
Placement LayeredPlacement = {0, 0, 0, 0};

namespace {

HBITMAP LoadSkinBitmap(HINSTANCE instance, int id) {
    return static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

// Copies a picture into the back buffer at (0, 0) over the whole window.
void CopyIntoBackBuffer(HBITMAP picture) {
    HDC target = BackBufferDc();
    MemoryDc source(CreateCompatibleDC(nullptr));
    if (!target || !source) return;
    ScopedSelect selectSource(source.Get(), picture);
    BitBlt(target, 0, 0, WindowSize.width, WindowSize.height, source.Get(), 0, 0, SRCCOPY);
    GdiFlush();
}

HDC BufferDc = nullptr;

// Each picture stays selected in a memory DC of its own for the life of the process:
// selecting a bitmap costs far more than copying one of these small pictures.
struct PictureSlot {
    HBITMAP picture;
    HDC dc;
};
PictureSlot PictureSlots[kSkinImageSlots + 1] = {};

// Deletes the DCs that hold the pictures and the buffer selected, so that they can be deleted.
void ReleaseSkinDcs() {
    ReleaseBackBufferDc();
    for (PictureSlot& entry : PictureSlots) {
        if (entry.dc) DeleteDC(entry.dc);  // deselects the picture
        entry = PictureSlot{};
    }
}

}  // namespace

HDC BackBufferDc() {
    // Selecting a bitmap is costly, so the buffer stays selected in one DC for the process:
    // composition draws into it and presentation copies from it.
    if (!BufferDc && BackBuffer) {
        BufferDc = CreateCompatibleDC(nullptr);
        if (BufferDc) SelectObject(BufferDc, BackBuffer);
    }
    return BufferDc;
}

void ReleaseBackBufferDc() {
    if (BufferDc) DeleteDC(BufferDc);
    BufferDc = nullptr;
}

HDC PictureDc(HBITMAP picture) {
    for (PictureSlot& entry : PictureSlots) {
        if (entry.picture == picture && entry.dc) return entry.dc;
        if (!entry.dc) {
            entry.dc = CreateCompatibleDC(nullptr);
            if (!entry.dc) return nullptr;
            entry.picture = picture;
            SelectObject(entry.dc, picture);
            return entry.dc;
        }
    }
    return nullptr;
}

void LoadSkinImages(HINSTANCE instance) {
    static const int kStateIds[14] = {206, 208, 209, 210, 211, 212, 213, 214, 215, 220, 221, 222, 216, 217};
    BackgroundImage = LoadSkinBitmap(instance, 204);
    MaskImage = LoadSkinBitmap(instance, 205);
    for (int i = 0; i < 14; ++i) SkinImages[i] = LoadSkinBitmap(instance, kStateIds[i]);
}

SIZE BitmapSize(HBITMAP bitmap) {
    SIZE size = {0, 0};
    BITMAP info;
    if (bitmap && GetObjectA(bitmap, sizeof info, &info) == sizeof info) {
        size.cx = info.bmWidth;
        size.cy = info.bmHeight;
    }
    return size;
}

void CompleteElementRects() {
    static const int kSizeFrom[kElementCount] = {0, 3, 6, 9, 12, 13};
    for (int i = 0; i < kElementCount; ++i) {
        SIZE size = BitmapSize(SkinImages[kSizeFrom[i]]);
        CompleteElementRect(&ElementRects[i], size.cx, size.cy);
    }
}

HBITMAP CreateBackBuffer(int32_t width, int32_t height, uint8_t** pixels) {
    // The 40-byte header and one empty colour entry, as one zeroed record.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[1];
    } info;
    std::memset(&info, 0, sizeof info);
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;  // positive: rows stored bottom-up
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_RGB;
    WindowDc screen(nullptr);
    void* bits = nullptr;
    HBITMAP section =
        CreateDIBSection(screen.Get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    *pixels = static_cast<uint8_t*>(bits);
    return section;
}

void BuildAlphaMask() {
    if (!BackBuffer || !BackBufferPixels || !AlphaMask) return;
    std::size_t pixels = static_cast<std::size_t>(WindowSize.width) * static_cast<std::size_t>(WindowSize.height);
    CopyIntoBackBuffer(MaskImage);
    OpacityFromMask(BackBufferPixels, pixels, AlphaMask);
    CopyIntoBackBuffer(BackgroundImage);
    ApplyOpacity(BackBufferPixels, AlphaMask, pixels);
}

HFONT CreateSkinFont() {
    return CreateFontA(FontHeight, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEVICE_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0, FontFace);
}

namespace {

template <typename Handle>
void DeleteSkinObject(Handle& object) {
    if (object) DeleteObject(object);
    object = nullptr;
}

}  // namespace

void ReleaseSkin() {
    ReleaseSkinDcs();
    std::free(AlphaMask);
    AlphaMask = nullptr;
    for (HBITMAP& image : SkinImages) DeleteSkinObject(image);
    DeleteSkinObject(BackgroundImage);
    DeleteSkinObject(MaskImage);
    DeleteSkinObject(BackBuffer);
    BackBufferPixels = nullptr;
    DeleteSkinObject(SkinFont);
}
