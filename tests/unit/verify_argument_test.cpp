// "--verify" taken out of the launcher's command line: the rest must reach the game exactly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "content/verify_argument.h"

namespace {

struct Taken {
    int Found;
    std::string Left;
};

Taken Take(const char* line) {
    char buffer[256];
    std::strncpy(buffer, line, sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    const int found = TakeVerifyArgument(buffer);
    return Taken{found, buffer};
}

}  // namespace

// First, middle, last, alone, twice, among tabs: the word goes, with one side's blanks.
TEST(VerifyArgument, TheWordIsTakenWhereverItStands) {
    EXPECT_EQ(1, Take("--verify").Found);
    EXPECT_EQ("", Take("--verify").Left);
    EXPECT_EQ("-window -server 7", Take("--verify -window -server 7").Left);
    EXPECT_EQ("-window -server 7", Take("-window --verify -server 7").Left);
    EXPECT_EQ("-window -server 7", Take("-window -server 7 --verify").Left);
    EXPECT_EQ("-a", Take("--verify --verify\t-a").Left);
    EXPECT_EQ("-a\t-b", Take("-a\t--verify\t-b").Left);
    EXPECT_EQ("-a", Take("  --verify  -a").Left);
}

// Anything that only looks like it stays the game's, byte for byte; an empty or missing line
// is no argument.
TEST(VerifyArgument, LookAlikesAndQuotedWordsStayTheGames) {
    for (const char* line : {"--verifyx", "--verify=1", "-verify", "--VERIFY", "x--verify", "\"--verify\"",
                             "\"a --verify b\"", "-name \"x --verify\" -y", "a\\\"b --verify\"", ""}) {
        const Taken t = Take(line);
        EXPECT_EQ(0, t.Found) << line;
        EXPECT_EQ(line, t.Left);
    }
    EXPECT_EQ(0, TakeVerifyArgument(nullptr));
    // A quoted word before it ends where the quotes close; the blank after it still counts.
    EXPECT_EQ("\"my name\" -x", Take("\"my name\" --verify -x").Left);
}

namespace {

struct Channel {
    int Found;
    std::string Name;
    std::string Left;
};

Channel TakeChannel(const char* line) {
    char buffer[256];
    std::strncpy(buffer, line, sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    char name[kChannelNameSize] = "x";
    const int found = TakeChannelArgument(buffer, name, sizeof name);
    return Channel{found, name, buffer};
}

}  // namespace

// "--channel NAME" leaves with its value wherever it stands; the last one counts; a value that
// is no channel name is taken too, so it never reaches the game as a stray word.
TEST(ChannelArgument, TheWordAndItsValueAreTaken) {
    const Channel first = TakeChannel("--channel beta -window");
    EXPECT_EQ(1, first.Found);
    EXPECT_EQ("beta", first.Name);
    EXPECT_EQ("-window", first.Left);
    EXPECT_EQ("-a -b", TakeChannel("-a --channel\tnightly-2 -b").Left);
    EXPECT_EQ("nightly-2", TakeChannel("-a --channel\tnightly-2 -b").Name);
    EXPECT_EQ("live", TakeChannel("--channel beta --verify --channel live").Name);
    EXPECT_EQ("--verify", TakeChannel("--channel beta --verify --channel live").Left);
    EXPECT_EQ(std::string(32, 'a'), TakeChannel(("--channel " + std::string(32, 'a')).c_str()).Name);
    for (const char* line : {"--channel", "--channel Beta", "--channel ../x", "-a --channel \"beta\"",
                             "--channel beta_1", "--channel aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}) {
        const Channel refused = TakeChannel(line);
        EXPECT_EQ(-1, refused.Found) << line;
        EXPECT_EQ("", refused.Name) << line;
        EXPECT_EQ(std::string(line).rfind("-a", 0) == 0 ? "-a" : "", refused.Left) << line;
    }
    for (const char* line : {"--channelbeta", "\"--channel\" beta", "--channel=beta", ""}) {
        const Channel t = TakeChannel(line);
        EXPECT_EQ(0, t.Found) << line;
        EXPECT_EQ(line, t.Left);
    }
}
