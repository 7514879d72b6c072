// The process entry point.
#include <windows.h>

#include "settings/layout_values.h"
#include "update/patch_info.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ParsePatchInfo();
    ApplySettings();
    return 0;
}
