// ApplySettings over settings records it was never built with. Input: slot texts separated by
// '\n', each cut to 255 bytes, filling first the slots ApplySettings reads (status style,
// button and bar positions, the two links, the first status text) and then the others in
// record order; slots the input does not reach keep their built-in texts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "fuzz_support.h"
#include "settings/launcher_settings.h"
#include "settings/layout_values.h"

namespace {

constexpr std::size_t kSlotsRead[] = {
    offsetof(LauncherSettingsRecord, StatusTextStyle),   offsetof(LauncherSettingsRecord, ButtonPos0),
    offsetof(LauncherSettingsRecord, ButtonPos1),        offsetof(LauncherSettingsRecord, ButtonPos2),
    offsetof(LauncherSettingsRecord, ButtonPos3),        offsetof(LauncherSettingsRecord, ProgressPosCurrent),
    offsetof(LauncherSettingsRecord, ProgressPosTotal),  offsetof(LauncherSettingsRecord, HomePageUrl),
    offsetof(LauncherSettingsRecord, CommunityUrl),      offsetof(LauncherSettingsRecord, MsgInitializing),
};

// Slot order for the input's texts: those read first, then the rest.
std::size_t SlotIndex(std::size_t n) {
    constexpr std::size_t kRead = sizeof kSlotsRead / sizeof kSlotsRead[0];
    if (n < kRead) return kSlotsRead[n] / kSettingSize;
    n -= kRead;
    for (std::size_t slot = 0; slot < kSettingSlotCount; ++slot) {
        bool read = false;
        for (std::size_t offset : kSlotsRead) read = read || offset / kSettingSize == slot;
        if (!read && n-- == 0) return slot;
    }
    return kSettingSlotCount;
}

char* Slot(LauncherSettingsRecord& record, std::size_t index) {
    return reinterpret_cast<char*>(&record) + index * kSettingSize;
}

// The values a process starts with, so each input runs from the same state.
void ResetLayout() {
    TextX = 200;
    TextY = 200;
    TextColor = 0x00FFFFFF;
    TextColor2 = 0x00FF8000;
    CopyText(FontFace, "Fixedsys");
    FontHeight = 16;
    std::memset(ElementRects, 0, sizeof ElementRects);
    std::memset(HomePageLink, 0, sizeof HomePageLink);
    std::memset(CommunityLink, 0, sizeof CommunityLink);
    StatusText.Set("");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static LauncherSettingsRecord record;
    std::memcpy(&record, &LauncherSettings, sizeof record);
    std::size_t at = 0;
    for (std::size_t n = 0; at < size; ++n) {
        const void* newline = std::memchr(data + at, '\n', size - at);
        const std::size_t end = newline ? static_cast<std::size_t>(static_cast<const uint8_t*>(newline) - data) : size;
        const std::size_t slot = SlotIndex(n);
        if (slot >= kSettingSlotCount) break;
        char* text = Slot(record, slot);
        std::memset(text, 0, kSettingSize);
        std::memcpy(text, data + at, std::min(end - at, kSettingSize - 1));
        at = end + 1;
    }

    ResetLayout();
    FUZZ_CHECK(ApplySettingsFrom(record) == 1);

    FUZZ_CHECK(TerminatedWithin(FontFace, sizeof FontFace));
    FUZZ_CHECK(FontFace[0] != '\0');
    FUZZ_CHECK(std::strpbrk(FontFace, " \t\r\n\v\f") == nullptr);
    // The face is the fifth field of the style, or still the default.
    FUZZ_CHECK(std::strcmp(FontFace, "Fixedsys") == 0 || std::strstr(record.StatusTextStyle, FontFace) != nullptr);

    // The links and the first status text are the slots' own texts: each fits in its target.
    FUZZ_CHECK(TerminatedWithin(HomePageLink, sizeof HomePageLink));
    FUZZ_CHECK(TerminatedWithin(CommunityLink, sizeof CommunityLink));
    FUZZ_CHECK(std::strcmp(HomePageLink, record.HomePageUrl) == 0);
    FUZZ_CHECK(std::strcmp(CommunityLink, record.CommunityUrl) == 0);
    char status[SharedText::kSize + 1];
    std::memset(status, 'x', sizeof status);
    StatusText.CopyTo(status, SharedText::kSize);
    FUZZ_CHECK(TerminatedWithin(status, SharedText::kSize));
    FUZZ_CHECK(std::strcmp(status, record.MsgInitializing) == 0);
    FUZZ_CHECK(StatusText.Equals(record.MsgInitializing));

    // Positions fill left and top only; the right and bottom edges come later from the skin.
    for (const ElementRect& rect : ElementRects) FUZZ_CHECK(rect.right == 0 && rect.bottom == 0);
    return 0;
}
