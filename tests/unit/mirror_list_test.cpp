// The content mirrors: the branding list's reading, the cool-downs and the failover rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content_fetch/mirror_list.h"
#include "update/crawl_watch.h"

namespace {

constexpr char kPatchBase[] = "https://cdn.example.com/Setup/live";

struct Refusals {
    std::vector<std::string> Entries;
    std::vector<std::string> Why;
};

void Note(void* context, const char* entry, std::size_t length, const char* why) {
    Refusals& r = *static_cast<Refusals*>(context);
    r.Entries.emplace_back(entry, length);
    r.Why.emplace_back(why);
}

std::vector<std::string> Bases(const MirrorList& list) {
    return std::vector<std::string>(list.Base, list.Base + list.Count);
}

}  // namespace

TEST(MirrorList, KeepsTheOrderPutsThePatchBaseLastAndRefusesBadEntries) {
    MirrorList list;
    Refusals refused;
    const std::string longOne = "https://m.example.com/" + std::string(kMaxMirrorBaseLength, 'x');
    const std::string text = " https://a.example.com/c;;HTTPS://b.example.com:8443/c\thttp://plain.example.com "
                             "https://slash.example.com/ https:// https:///path https://a.example.com/c " + longOne;
    EXPECT_EQ(3u, ParseMirrorList(text.c_str(), kPatchBase, &list, Note, &refused));
    EXPECT_EQ((std::vector<std::string>{"https://a.example.com/c", "HTTPS://b.example.com:8443/c", kPatchBase}),
              Bases(list));
    EXPECT_EQ((std::vector<std::string>{"http://plain.example.com", "https://slash.example.com/", "https://",
                                        "https:///path", longOne}),
              refused.Entries);
    EXPECT_EQ((std::vector<std::string>{"not https://", "ends with /", "no host", "no host", "too long"}), refused.Why);
}

TEST(MirrorList, AnEmptyListIsThePatchBaseAloneAndAListedPatchBaseKeepsItsPlace) {
    MirrorList list;
    EXPECT_EQ(1u, ParseMirrorList("", kPatchBase, &list, nullptr, nullptr));
    EXPECT_STREQ(kPatchBase, list.Base[0]);
    EXPECT_EQ(1u, ParseMirrorList(nullptr, kPatchBase, &list, nullptr, nullptr));
    const std::string text = std::string(kPatchBase) + " https://late.example.com/c";
    EXPECT_EQ(2u, ParseMirrorList(text.c_str(), kPatchBase, &list, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::string>{kPatchBase, "https://late.example.com/c"}), Bases(list));
}

TEST(MirrorList, TakesEightMirrorsAndThePatchBaseBesideThem) {
    std::string text;
    for (int i = 0; i < 10; ++i) text += "https://m" + std::to_string(i) + ".example.com ";
    MirrorList list;
    Refusals refused;
    EXPECT_EQ(kMaxContentBases, ParseMirrorList(text.c_str(), kPatchBase, &list, Note, &refused));
    EXPECT_STREQ("https://m7.example.com", list.Base[7]);
    EXPECT_STREQ(kPatchBase, list.Base[8]);
    EXPECT_EQ((std::vector<std::string>{"https://m8.example.com", "https://m9.example.com"}), refused.Entries);
    EXPECT_EQ("too many", refused.Why[0]);
}

TEST(MirrorHealth, TheFirstHealthyInOrderThenTheSoonestBackAndAFailedOneAgainAfterItsCoolDown) {
    MirrorHealth health = {};
    const uint64_t t = 5000;
    EXPECT_EQ(0, ChooseMirror(health, 3, 0, t));
    NoteMirrorFailed(health, 0, t);
    EXPECT_EQ(1, ChooseMirror(health, 3, 0, t + 1));
    NoteMirrorFailed(health, 1, t + 10);
    EXPECT_EQ(2, ChooseMirror(health, 3, 0, t + 20));
    NoteMirrorFailed(health, 2, t + 5);
    // All cooling: the one whose cool-down ends first, though it is not first in the list.
    EXPECT_EQ(0, ChooseMirror(health, 3, 0, t + 30));
    EXPECT_EQ(2, ChooseMirror(health, 3, 1u << 0, t + 30));
    EXPECT_EQ(1, ChooseMirror(health, 3, (1u << 0) | (1u << 2), t + 30));
    EXPECT_EQ(-1, ChooseMirror(health, 3, 7u, t + 30));
    // The first mirror's cool-down ends exactly then: it is first again.
    EXPECT_TRUE(MirrorCooling(health, 0, t + kMirrorCooldownMs - 1));
    EXPECT_FALSE(MirrorCooling(health, 0, t + kMirrorCooldownMs));
    EXPECT_EQ(0, ChooseMirror(health, 3, 0, t + kMirrorCooldownMs));
    // A mirror that serves is healthy at once; a failure again starts a new cool-down.
    NoteMirrorServed(health, 1);
    EXPECT_EQ(1, ChooseMirror(health, 3, 1u << 0, t + 40));
    NoteMirrorFailed(health, 0, t + kMirrorCooldownMs);
    EXPECT_EQ(1, ChooseMirror(health, 3, 0, t + kMirrorCooldownMs + 1));
    EXPECT_EQ(-1, ChooseMirror(health, 0, 0, t));
}

TEST(MirrorHealth, ABaseThatIgnoresRangesIsTakenOnlyWhenNoOtherServesAndBeforeOneCooling) {
    MirrorHealth health = {};
    const uint64_t t = 5000;
    EXPECT_EQ(1, NoteMirrorIgnoresRanges(health, 0));
    EXPECT_EQ(0, NoteMirrorIgnoresRanges(health, 0));  // told once, however many saw it
    EXPECT_EQ(1, ChooseMirror(health, 3, 0, t));
    NoteMirrorFailed(health, 1, t);
    EXPECT_EQ(2, ChooseMirror(health, 3, 0, t));
    NoteMirrorIgnoresRanges(health, 2);
    // Both that serve ignore ranges: the first of them in order, not the cooling one.
    EXPECT_EQ(0, ChooseMirror(health, 3, 0, t + 1));
    EXPECT_EQ(2, ChooseMirror(health, 3, 1u << 0, t + 1));
    EXPECT_EQ(1, ChooseMirror(health, 3, (1u << 0) | (1u << 2), t + 1));
    // A cool-down that ended makes the base that honours ranges first again; serving keeps the mark.
    EXPECT_EQ(1, ChooseMirror(health, 3, 0, t + kMirrorCooldownMs));
    NoteMirrorServed(health, 0);
    EXPECT_EQ(1, ChooseMirror(health, 3, 0, t + kMirrorCooldownMs));
    EXPECT_EQ(0, NoteMirrorIgnoresRanges(health, kMaxContentBases));  // out of range: ignored
}

TEST(MirrorStep, ADownOrWrongMirrorGivesWayAtOnceAndTheLastBaseKeepsTheRetries) {
    struct Case {
        ContentTry failure;
        uint32_t tries;
        MirrorStep another;  // with an untried base left
        MirrorStep alone;    // on the last base
    } cases[] = {
        {{kFailOpen, 0, 12029}, 1, kStepNextMirror, kStepRetry},  // connection refused
        {{kFailOpen, 0, 10061}, 1, kStepNextMirror, kStepRetry},
        {{kFailOpen, 0, 12007}, 1, kStepNextMirror, kStepRetry},  // no such name
        {{kFailStatus, 404, 0}, 1, kStepNextMirror, kStepStop},
        {{kFailStatus, 403, 0}, 1, kStepNextMirror, kStepStop},
        {{kFailChunk, 206, 0}, 1, kStepNextMirror, kStepRetry},   // a changed byte
        {{kFailOpen, 0, 12175}, 1, kStepNextMirror, kStepStop},   // the secure channel refused
        {{kFailStatus, 503, 0}, 1, kStepRetry, kStepRetry},
        {{kFailStatus, 429, 0}, 5, kStepRetry, kStepRetry},
        {{kFailStatus, 503, 0}, kContentTries, kStepNextMirror, kStepStop},
        {{kFailOpen, 0, 12002}, 3, kStepRetry, kStepRetry},       // time-out
        {{kFailRead, 206, 12031}, kContentTries, kStepNextMirror, kStepStop},
        {{kFailOpen, 0, 12029}, kContentTries, kStepNextMirror, kStepStop},
        {{kFailLocal, 206, 8}, 1, kStepStop, kStepStop},          // this side: no mirror mends it
        {{kFailRead, 206, kCrawlErrorCode}, 1, kStepNextMirror, kStepRetry},  // the body crawled
        {{kFailRead, 200, kCrawlErrorCode}, kContentTries, kStepNextMirror, kStepStop},
        {{kFailRead, 206, 12002}, 1, kStepRetry, kStepRetry},     // a read that timed out waits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.another, StepAfterFailure(c.failure, c.tries, 1))
            << c.failure.Failure << " " << c.failure.Status << " " << c.failure.Error << " try " << c.tries;
        EXPECT_EQ(c.alone, StepAfterFailure(c.failure, c.tries, 0))
            << c.failure.Failure << " " << c.failure.Status << " " << c.failure.Error << " try " << c.tries;
    }
}
