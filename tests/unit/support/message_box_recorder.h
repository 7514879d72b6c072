// Unit tests link this recorder in place of the real message box: it remembers every box
// and answers IDOK at once.
#pragma once

#include <string>
#include <vector>

#include "common/message_box.h"

struct RecordedBox {
    BoxOwner owner;
    std::string text;
    std::string caption;
    unsigned style;
};

std::vector<RecordedBox> RecordedBoxes();
void ClearRecordedBoxes();
