// The upper-case table against the system's own ordinal comparison without case, the one
// NTFS names follow: exact over the scripts game files are named in, counted over the BMP.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "paths/name_fold.h"

namespace {

bool SystemEqual(wchar_t a, wchar_t b) { return CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL; }

wchar_t SystemUpper(wchar_t unit) {
    wchar_t out = unit;
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &unit, 1, &out, 1) != 1) return unit;
    return out;
}

bool IsSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

// Within each range every pair of units is equal to the system exactly when the table folds
// them alike: no pair the launcher would keep apart that NTFS takes for one name, and no
// refusal of names NTFS keeps apart.
TEST(NameFoldSystem, MatchesOrdinalIgnoreCaseOverLatinGreekCyrillicAndFullwidth) {
    const struct {
        unsigned first, last;
    } ranges[] = {{0x0000, 0x024F}, {0x0370, 0x03FF}, {0x0400, 0x052F}, {0x1E00, 0x1EFF}, {0xFF00, 0xFFEF}};
    for (const auto& r : ranges) {
        int wrong = 0;
        for (unsigned a = r.first; a <= r.last; ++a) {
            for (unsigned b = a; b <= r.last; ++b) {
                const bool folded = UpcaseUnit(static_cast<uint16_t>(a)) == UpcaseUnit(static_cast<uint16_t>(b));
                if (folded != SystemEqual(static_cast<wchar_t>(a), static_cast<wchar_t>(b)) && ++wrong <= 5)
                    ADD_FAILURE() << std::hex << "U+" << a << " U+" << b << " table " << folded;
            }
        }
        EXPECT_EQ(0, wrong) << std::hex << r.first << "-" << r.last;
    }
}

// Where the system's table is older or newer than ours (scripts Unicode added lately) they
// differ; the count says how far, it is no failure.
TEST(NameFoldSystem, CountsWhereTheWholeBmpDiffers) {
    int differ = 0;
    for (unsigned u = 0; u <= 0xFFFF; ++u) {
        if (IsSurrogate(u)) continue;
        const wchar_t unit = static_cast<wchar_t>(u);
        const wchar_t ours = static_cast<wchar_t>(UpcaseUnit(static_cast<uint16_t>(u)));
        const wchar_t theirs = SystemUpper(unit);
        if (!SystemEqual(unit, ours) || (theirs != ours && SystemEqual(unit, theirs))) ++differ;
    }
    std::printf("[ upcase ] %d of 63488 BMP code units fold otherwise than CompareStringOrdinal here\n", differ);
    EXPECT_LT(differ, 500);
}
