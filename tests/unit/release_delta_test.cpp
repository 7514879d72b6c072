// Release-manifest deltas: their listed names, read back strictly, and one applied in memory
// into a buffer of exactly the signed size.
#include "content_format/release_delta.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "content_format/delta_apply.h"
#include "support/delta_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ReleaseDeltaPath, RoundTripsAndFitsTheManifestsPaths) {
    char path[96];
    ASSERT_EQ(ReleaseDeltaPath(10006, 10005, path, sizeof path), 1);
    EXPECT_STREQ(path, "Content/release-deltas/10006-10005.delta");
    uint32_t base = 0;
    ASSERT_EQ(ReleaseDeltaBase(path, 10006, &base), 1);
    EXPECT_EQ(base, 10005u);
    // The longest name still fits a listed path (95 bytes).
    ASSERT_EQ(ReleaseDeltaPath(2147483647u, 2147483646u, path, sizeof path), 1);
    EXPECT_EQ(ReleaseDeltaBase(path, 2147483647u, &base), 1);
    char small[20];
    EXPECT_EQ(ReleaseDeltaPath(10006, 10005, small, sizeof small), 0);
}

TEST(ReleaseDeltaPath, RefusesEveryOtherName) {
    const char* refused[] = {
        "Content/release-deltas/10006-10005.delta.part",  // an unfinished write
        "Content/release-deltas/10007-10005.delta",       // another release's
        "Content/release-deltas/10006-010005.delta",      // a leading zero
        "Content/release-deltas/10006-10006.delta",       // from itself
        "Content/release-deltas/10006-10007.delta",       // from a later one
        "Content/release-deltas/10006-0.delta",
        "Content/release-deltas/10006-.delta",
        "Content/release-deltas/10006-99999999999.delta",  // beyond 2^31-1
        "Content/release-deltas/10006-10005.deltas",
        "Content/releases/10006-10005.delta",
        "content/release-deltas/10006-10005.delta",
        "Content/release-deltas/10006-10005",
        "",
    };
    for (const char* path : refused) {
        uint32_t base = 7;
        EXPECT_EQ(ReleaseDeltaBase(path, 10006, &base), 0) << path;
        EXPECT_EQ(base, 7u) << path;
    }
}

TEST(ReleaseDeltaApply, MakesExactlyTheSignedSizeOrRefuses) {
    const Bytes base = ReadDeltaFile("base.bin"), next = ReadDeltaFile("new.bin"), delta = ReadDeltaFile("new.delta");
    ASSERT_FALSE(base.empty() || next.empty() || delta.empty());
    Bytes out(next.size());
    ASSERT_EQ(ApplyReleaseDelta(base.data(), base.size(), delta.data(), delta.size(), out.data(), out.size()),
              kDeltaApplied);
    EXPECT_TRUE(out == next);
    // A buffer of another size than the frame declares (the signed size disagrees): refused.
    Bytes longer(next.size() + 1);
    EXPECT_EQ(ApplyReleaseDelta(base.data(), base.size(), delta.data(), delta.size(), longer.data(), longer.size()),
              kDeltaSizeDiffers);
    EXPECT_NE(ApplyReleaseDelta(base.data(), base.size(), delta.data(), delta.size() - 1, out.data(), out.size()),
              kDeltaApplied);
    EXPECT_EQ(ApplyReleaseDelta(base.data(), base.size(), delta.data(), 0, out.data(), out.size()), kDeltaSizeDiffers);
    // A kept manifest that is not the delta's base (a player's edit): never the new bytes.
    Bytes edited = base;
    edited[edited.size() / 3] ^= 0x40;
    const int result =
        ApplyReleaseDelta(edited.data(), edited.size(), delta.data(), delta.size(), out.data(), out.size());
    EXPECT_TRUE(result != kDeltaApplied || out != next);
}

}  // namespace
