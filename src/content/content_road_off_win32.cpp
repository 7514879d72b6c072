// TakeContentRoad and ContentMenu of a launcher built without the content mode: never taken, no
// menu, so such a launcher links none of the content worker (the real ones: content_road_win32.cpp).
#include "content/content_road_win32.h"

bool TakeContentRoad() { return false; }

bool ContentMenu(HWND, LPARAM) { return false; }
