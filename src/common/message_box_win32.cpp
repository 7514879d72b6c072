// Message boxes of the product: MessageBoxA, owned by the main window when asked.
#include <windows.h>

#include "common/message_box.h"
#include "common/process_state.h"

int ShowMessageBox(BoxOwner owner, const char* text, const char* caption, unsigned style) {
    HWND window = owner == BoxOwner::MainWindow ? MainWindow : nullptr;
    return MessageBoxA(window, text, caption, style);
}
