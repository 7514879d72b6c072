// Release paths in the status line: UTF-8 names in the window's double-byte code page, marks
// for what it lacks, and cuts that always fall between characters.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "common/display_state.h"
#include "content/shown_name_win32.h"

namespace {

constexpr unsigned kKorean = 949;

std::string Shown(unsigned codePage, const std::string& path, std::size_t size, int* result = nullptr) {
    char out[1100];
    std::memset(out, 'X', sizeof out);
    const int r = ShownNameIn(codePage, path.data(), path.size(), out, size);
    if (result) *result = r;
    return std::string(out, std::strlen(out));
}

std::string StatusNow() {
    char text[SharedText::kSize];
    StatusText.CopyTo(text, sizeof text);
    return text;
}

const std::string kMapPath = "\xEC\xA7\x80\xEB\x8F\x84/\xEA\xB0\x80\xEB\x82\x98.map";  // 지도/가나.map
const std::string kMapShown = "\xC1\xF6\xB5\xB5/\xB0\xA1\xB3\xAA.map";                // the same in CP949
const std::string kThree = "\xEA\xB0\x80\xEB\x82\x98\xEB\x8B\xA4";                    // 가나다

}  // namespace

TEST(ShownName, AKoreanPathComesOutInCp949AndAPlainOneAsItIs) {
    int result = 0;
    EXPECT_EQ(kMapShown, Shown(kKorean, kMapPath, 64, &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("data/maps/a.map", Shown(kKorean, "data/maps/a.map", 64));
    EXPECT_EQ("", Shown(kKorean, "", 64));
}

// A Thai letter and a character beyond the BMP (a surrogate pair) have no CP949 code: each is
// one '?', and no best-fit look-alike stands in for it.
TEST(ShownName, WhatTheCodePageLacksIsOneMarkACharacter) {
    EXPECT_EQ("a?b.dat", Shown(kKorean, "a\xE0\xB8\x81" "b.dat", 64));
    EXPECT_EQ("?.png", Shown(kKorean, "\xF0\x9F\x8E\xAE.png", 64));
    EXPECT_EQ("caf?", Shown(kKorean, "caf\xC3\xA9", 64));
}

TEST(ShownName, ACutNeverHalvesADoubleByteCharacter) {
    EXPECT_EQ("\xB0\xA1\xB3\xAA\xB4\xD9", Shown(kKorean, kThree, 7));
    EXPECT_EQ("\xB0\xA1\xB3\xAA", Shown(kKorean, kThree, 6));
    EXPECT_EQ("\xB0\xA1\xB3\xAA", Shown(kKorean, kThree, 5));
    EXPECT_EQ("\xB0\xA1", Shown(kKorean, kThree, 4));
    EXPECT_EQ("a", Shown(kKorean, "a" + kThree, 3));
    EXPECT_EQ("", Shown(kKorean, kThree, 1));
    // A pair is one character: it goes whole or not at all.
    EXPECT_EQ("x", Shown(kKorean, "x\xF0\x9F\x8E\xAE", 2));
}

TEST(ShownName, BytesThatAreNotUtf8ShowTheirAscii) {
    int result = 1;
    EXPECT_EQ("bad?name", Shown(kKorean, "bad\xFFname", 64, &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ("ba", Shown(kKorean, "bad\xFFname", 3));
    EXPECT_EQ("??", Shown(kKorean, "\xEA\xB0", 64, &result));  // a character cut short
}

TEST(ShownName, UnderUtf8TheNameStaysAsItIs) {
    EXPECT_EQ(kMapPath, Shown(CP_UTF8, kMapPath, 64));
    EXPECT_EQ("\xEA\xB0\x80", Shown(CP_UTF8, kThree, 6));
}

// The status line is drawn in the window's code page, which the tests' Korean locale makes CP949.
TEST(ShownName, TheStatusLineShowsTheNameInTheWindowsCodePage) {
    if (GetACP() != kKorean) GTEST_SKIP() << "the ANSI code page here is " << GetACP();
    ShowNamedStatus("%s (%u / %u KB)", kMapPath.data(), kMapPath.size(), 3, 40);
    EXPECT_EQ(kMapShown + " (3 / 40 KB)", StatusNow());
    ShowNamedStatus("failed (%s)", kMapPath.data(), kMapPath.size());
    EXPECT_EQ("failed (" + kMapShown + ")", StatusNow());
}

// A branded text that leaves little room: the name is cut on a character so that the whole
// line, its tail included, fits the status buffer.
TEST(ShownName, ALongLineCutsTheNameNotTheTextAfterIt) {
    if (GetACP() != kKorean) GTEST_SKIP() << "the ANSI code page here is " << GetACP();
    const std::string head(SharedText::kSize - 10, 'h');
    const std::string format = head + "%s!";
    std::string name;
    for (int i = 0; i < 20; ++i) name += kThree.substr(0, 3);  // 가 twenty times
    ShowNamedStatus(format.c_str(), name.data(), name.size());
    const std::string shown = StatusNow();
    // The buffer holds 1023 bytes; the head and "!" take 1015, leaving 8: four characters.
    EXPECT_EQ(head + "\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1!", shown);
    EXPECT_LT(shown.size(), SharedText::kSize);
}
