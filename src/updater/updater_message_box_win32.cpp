// Message boxes of the Updater: MessageBoxA, owned by its window when asked.
#include <windows.h>

#include "common/message_box.h"
#include "updater/updater_window_win32.h"

int ShowMessageBox(BoxOwner owner, const char* text, const char* caption, unsigned style) {
    HWND window = owner == BoxOwner::MainWindow ? UpdaterWindow : nullptr;
    // A box of a program started without a window of its own must not open behind others.
    return MessageBoxA(window, text, caption, style | MB_SETFOREGROUND);
}
