// Single-range GETs against the real test patch server: the exact bytes of a range, a server
// that ignores ranges, and every way an answer can be refused or break off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "content_fetch/range_fetch_win32.h"
#include "support/patch_server_win32.h"
#include "support/plain_http_server_win32.h"

namespace {

constexpr const char* kPack = "Content/packs/range-test.pack";

std::string PackBytes() {
    std::string bytes(300000, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

struct Collected {
    std::string bytes;
    std::size_t calls = 0;
    std::size_t stopAfter = 0;  // 0 never stops
};

int Collect(void* context, const uint8_t* data, std::size_t length) {
    Collected* collected = static_cast<Collected*>(context);
    collected->bytes.append(reinterpret_cast<const char*>(data), length);
    ++collected->calls;
    return collected->calls == collected->stopAfter ? 1 : 0;
}

class RangeFetch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        pack_ = PackBytes();
        PutServedFile(kPack, pack_);
        ASSERT_TRUE(SetServerFaults({}));
        session_ = OpenContentSession();
        ASSERT_TRUE(session_);
    }
    void TearDown() override {
        SetServerFaults({});
        RemoveServedFile(kPack);
    }
    int32_t Fetch(uint64_t first, uint64_t last, Collected* into, RangeAnswer* answer) {
        return FetchRange(session_.Get(), PatchServerUrl(kPack).c_str(), 1, first, last, Collect, into, answer);
    }

    std::string pack_;
    InternetHandle session_;
};

TEST_F(RangeFetch, DeliversExactlyTheRangeOnOneSessionAndAsksForItWithOneHeader) {
    const long mark = LogMark();
    struct Case {
        uint64_t first, last;
    } cases[] = {{0, 0}, {1000, 70000}, {299999, 299999}, {0, 299999}, {5, 130000}};
    for (const Case& c : cases) {
        Collected got;
        RangeAnswer answer{};
        ASSERT_EQ(kRangeDone, Fetch(c.first, c.last, &got, &answer)) << c.first;
        EXPECT_EQ(pack_.substr(c.first, c.last - c.first + 1), got.bytes) << c.first;
        EXPECT_EQ(got.bytes.size(), answer.Delivered);
        EXPECT_EQ(206u, answer.Status);
        EXPECT_EQ(0, answer.WholeBody);
    }
    const std::vector<std::string> requests = RequestsSince(mark);
    ASSERT_EQ(5u, requests.size());
    EXPECT_NE(std::string::npos, requests[1].find("\"Range\": \"bytes=1000-70000\""));
    EXPECT_EQ("MS", LogField(requests[1], "agent"));
}

TEST_F(RangeFetch, AServerThatIgnoresRangesStillYieldsOnlyTheRange) {
    ASSERT_TRUE(SetServerFaults({std::string(kPack) + "=norange"}));
    Collected got;
    RangeAnswer answer{};
    ASSERT_EQ(kRangeDone, Fetch(150000, 150099, &got, &answer));
    EXPECT_EQ(pack_.substr(150000, 100), got.bytes);
    EXPECT_EQ(200u, answer.Status);
    EXPECT_EQ(1, answer.WholeBody);
}

// A limit of 1000 B/s over 3 s stands in for the built one (crawl_watch.h), whose 30 s window
// the e2e test waits out once.
TEST_F(RangeFetch, ABodyThatCrawlsIsGivenUpBetweenItsPiecesAndASlowHonestOneIsKept) {
    const CrawlLimit limit = {1000, 3000};
    const std::string url = PatchServerUrl(kPack);
    ASSERT_TRUE(SetServerFaults({std::string(kPack) + "=trickle:64@1", std::string(kPack) + "=slow:8000@1"}));
    Collected got;
    RangeAnswer answer{};
    const auto began = std::chrono::steady_clock::now();
    // 64 bytes every 2 s: a read that waited for its whole 64 KiB piece would never return.
    EXPECT_EQ(kRangeReadFailed,
              FetchRangeWithin(session_.Get(), url.c_str(), 1, 0, 99999, limit, Collect, &got, &answer));
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(kCrawlErrorCode, answer.Error);
    EXPECT_EQ(206u, answer.Status);
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_GE(took, std::chrono::seconds(3));
    EXPECT_EQ(pack_.substr(0, got.bytes.size()), got.bytes);
    EXPECT_EQ(got.bytes.size(), answer.Delivered);
    // 8000 B/s for five seconds keeps the rate.
    Collected slow;
    ASSERT_EQ(kRangeDone,
              FetchRangeWithin(session_.Get(), url.c_str(), 1, 1000, 40999, limit, Collect, &slow, &answer));
    EXPECT_EQ(pack_.substr(1000, 40000), slow.bytes);
}

TEST_F(RangeFetch, RefusedAnswersSayWhyAndDeliverNothing) {
    struct Case {
        std::string fault;
        uint64_t first, last;
        int32_t result;
        uint32_t status;
    } cases[] = {
        {"=status:503", 0, 99, kRangeBadStatus, 503},
        {"=status:404", 0, 99, kRangeBadStatus, 404},
        {"", 400000, 400099, kRangeBadStatus, 416},  // past the end of the pack
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetServerFaults(c.fault.empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{std::string(kPack) + c.fault}));
        Collected got;
        RangeAnswer answer{};
        EXPECT_EQ(c.result, Fetch(c.first, c.last, &got, &answer)) << c.fault;
        EXPECT_EQ(c.status, answer.Status) << c.fault;
        EXPECT_EQ(0u, answer.Delivered) << c.fault;
        EXPECT_TRUE(got.bytes.empty()) << c.fault;
    }
}

TEST_F(RangeFetch, ABodyThatBreaksOffTellsHowFarItGot) {
    for (const char* fault : {"=short:40000", "=reset:40000"}) {
        ASSERT_TRUE(SetServerFaults({std::string(kPack) + fault}));
        Collected got;
        RangeAnswer answer{};
        EXPECT_EQ(kRangeReadFailed, Fetch(10000, 209999, &got, &answer)) << fault;
        EXPECT_EQ(got.bytes.size(), answer.Delivered) << fault;
        EXPECT_LE(answer.Delivered, 40000u) << fault;
        EXPECT_EQ(pack_.substr(10000, got.bytes.size()), got.bytes) << fault;
    }
}

TEST_F(RangeFetch, ARedirectOutOfTlsIsRefusedLikeAFailedOpen) {
    PlainHttpServer plain(std::string(64, 'c'));
    ASSERT_NE(0, plain.Port());
    ASSERT_TRUE(SetServerFaults({std::string(kPack) + "=redirect:" + plain.Url("/edge/range-test.pack")}));
    Collected got;
    RangeAnswer answer{};
    EXPECT_EQ(kRangeOpenFailed, Fetch(0, 9, &got, &answer));
    EXPECT_EQ(12040u, answer.Error);
    EXPECT_EQ(0u, answer.Delivered);
    EXPECT_TRUE(got.bytes.empty());
    EXPECT_EQ(1, plain.Requests());
}

TEST_F(RangeFetch, TheSinkCanStopAndNothingIsReadPastTheRange) {
    Collected got;
    got.stopAfter = 1;
    RangeAnswer answer{};
    EXPECT_EQ(kRangeStopped, Fetch(0, 299999, &got, &answer));
    EXPECT_EQ(0u, answer.Delivered);  // the piece it refused is not counted

    ASSERT_TRUE(SetServerFaults({std::string(kPack) + "=long:5000"}));
    Collected whole;
    EXPECT_EQ(kRangeDone, Fetch(0, 99, &whole, &answer));
    EXPECT_EQ(pack_.substr(0, 100), whole.bytes);
}

TEST(RangeFetchNoServer, ARefusedConnectionIsAnOpenFailureWithItsCode) {
    InternetHandle session = OpenContentSession();
    ASSERT_TRUE(session);
    Collected got;
    RangeAnswer answer{};
    // Port 9 (discard) has no listener on the test machine's loopback.
    EXPECT_EQ(kRangeOpenFailed, FetchRange(session.Get(), "https://127.0.0.1:9/x.pack", 1, 0, 9, Collect, &got, &answer));
    EXPECT_NE(0u, answer.Error);
    EXPECT_EQ(0u, answer.Status);
}

}  // namespace
