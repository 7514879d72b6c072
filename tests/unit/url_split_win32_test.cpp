// The system's character step of the URL search is CharNextA in code page 949.
#include <gtest/gtest.h>

#include <windows.h>

#include "update/url_split.h"

TEST(AnsiCharStep, MatchesTheCp949Rule) {
    if (GetACP() != 949) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 949";
    for (int lead = 1; lead <= 0xFF; ++lead) {
        for (int trail : {0x41, 0x5C, 0x7A, 0x81, 0xFE}) {
            const char text[] = {static_cast<char>(lead), static_cast<char>(trail), '\0'};
            EXPECT_EQ(NextCp949Char(text), NextAnsiChar(text)) << lead << " " << trail;
        }
    }
    EXPECT_EQ(nullptr, FindCharInText("\xB0\x41", 'A'));
}
