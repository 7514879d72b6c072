// Names folded as NTFS folds them: the table's lookups and the comparisons over UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "paths/name_fold.h"

namespace {

int Compare(const std::string& a, const std::string& b) { return CompareFoldedNames(a.data(), a.size(), b.data(), b.size()); }

}  // namespace

TEST(NameFold, UpcasesOneUnitToOne) {
    const struct {
        uint16_t from, to;
    } cases[] = {{'a', 'A'}, {'z', 'Z'}, {'A', 'A'}, {'~', '~'}, {0xE4, 0xC4}, {0xFF, 0x178}, {0xDF, 0xDF},
                 {0x101, 0x100}, {0x100, 0x100}, {0x17F, 0x17F}, {0x131, 0x131}, {0xB5, 0xB5}, {0x1C5, 0x1C5},
                 {0x1C6, 0x1C4}, {0x3C3, 0x3A3}, {0x3C2, 0x3C2}, {0x1F80, 0x1F88}, {0x250, 0x2C6F},
                 {0x436, 0x416}, {0x450, 0x400}, {0xFF41, 0xFF21}, {0x212A, 0x212A}, {0xD800, 0xD800},
                 {0xFB01, 0xFB01}, {0xAC00, 0xAC00}, {0xFFFF, 0xFFFF}, {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.to, UpcaseUnit(c.from)) << std::hex << c.from;
}

TEST(NameFold, ComparesUtf8PathsFolded) {
    EXPECT_EQ(0, Compare("\xC3\x9C" "bung/\xC3\x84rger.pk3", "\xC3\xBC" "BUNG\\\xC3\xA4RGER.PK3"));
    EXPECT_EQ(0, Compare("\xC9\x90.txt", "\xE2\xB1\xAF.TXT"));  // ɐ and Ɐ: lengths differ, names do not
    EXPECT_NE(0, Compare("\xC4\xB1", "I"));                        // dotless ı has no capital of its own
    EXPECT_EQ(0, Compare("\xF0\x9F\x8E\xAE", "\xF0\x9F\x8E\xAE"));
    EXPECT_NE(0, Compare("\xC3\x9F", "SS"));
    EXPECT_NE(0, Compare("e\xCC\x81", "\xC3\xA9"));  // no normalisation: NTFS has none
    EXPECT_LT(Compare("a/z", "a!"), 0);              // a separator sorts below everything
    EXPECT_LT(Compare("a", "a/b"), 0);
    EXPECT_LT(Compare("~", "\xC3\xA4"), 0);
    // A byte that starts no whole sequence is itself, above every code point, and equal only to itself.
    EXPECT_EQ(0, Compare("a\xFF", "A\xFF"));
    EXPECT_GT(Compare("\xC3", "\xF4\x8F\xBF\xBF"), 0);
    EXPECT_NE(0, Compare("\xC3\xA4", "\xC3\xC3"));
    EXPECT_NE(0, Compare("\xC0\xAF", "/"));  // an overlong "/" is no separator
}

TEST(NameFold, FindsPrefixesSuffixesAndFolders) {
    const std::string name = "G\xC9\x90NT.EXE.UPD\xE2\xB1\xAFTING";  // ɐ and Ɐ differ in length
    EXPECT_TRUE(FoldedEndsWith(name.data(), name.size(), ".upd\xC9\x90ting", 10));
    EXPECT_FALSE(FoldedEndsWith(name.data(), name.size(), ".updating", 9));
    EXPECT_TRUE(FoldedStartsWith(name.data(), name.size(), "g\xE2\xB1\xAF", 4));
    EXPECT_FALSE(FoldedStartsWith("g", 1, "gi", 2));
    EXPECT_FALSE(FoldedEndsWith("ng", 2, ".updating", 9));
    EXPECT_TRUE(FoldedIsInside("\xC3\x96", 2, "\xC3\xB6/x", 4));
    EXPECT_FALSE(FoldedIsInside("\xC3\x96", 2, "\xC3\xB6/", 3));
    EXPECT_FALSE(FoldedIsInside("\xC3\x96", 2, "\xC3\xB6x", 3));
    EXPECT_FALSE(FoldedIsInside("\xC3\x96", 2, "\xC3\xB6", 2));
}
