// The recording message box used by the unit tests (thread-safe: the worker shows boxes too).
#include "support/message_box_recorder.h"

#include <mutex>

namespace {
std::mutex RecorderLock;
std::vector<RecordedBox> Boxes;
}  // namespace

int ShowMessageBox(BoxOwner owner, const char* text, const char* caption, unsigned style) {
    std::lock_guard<std::mutex> guard(RecorderLock);
    Boxes.push_back({owner, text ? text : "", caption ? caption : "", style});
    return 1;  // IDOK
}

std::vector<RecordedBox> RecordedBoxes() {
    std::lock_guard<std::mutex> guard(RecorderLock);
    return Boxes;
}

void ClearRecordedBoxes() {
    std::lock_guard<std::mutex> guard(RecorderLock);
    Boxes.clear();
}
