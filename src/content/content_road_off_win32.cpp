// TakeContentRoad of a launcher built without the content mode: never taken, so such a launcher
// links none of the content worker (the real one is content_road_win32.cpp).
#include "content/content_road_win32.h"

bool TakeContentRoad() { return false; }
