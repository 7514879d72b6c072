// How the Updater judges an Authenticode signer's key and words the system's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "updater/authenticode_check.h"
#include "updater/signed_check.h"

TEST(AuthenticodeCheck, OnlyTheCountedPinsAcceptAKey) {
    uint8_t pins[kMaxPublisherPins][kPublisherPinSize] = {};
    std::memset(pins[0], 0x11, kPublisherPinSize);
    std::memset(pins[1], 0x22, kPublisherPinSize);
    uint8_t key[kPublisherPinSize];
    std::memset(key, 0x22, kPublisherPinSize);
    EXPECT_TRUE(IsPinnedPublisher(pins, 2, key));
    // A renewal's key built in but not counted, and the zero rows past the count, accept nothing.
    EXPECT_FALSE(IsPinnedPublisher(pins, 1, key));
    std::memset(key, 0, kPublisherPinSize);
    EXPECT_FALSE(IsPinnedPublisher(pins, 2, key));
    EXPECT_FALSE(IsPinnedPublisher(pins, 0, key));
    key[kPublisherPinSize - 1] = 0x23;
    std::memset(key, 0x22, kPublisherPinSize - 1);
    EXPECT_FALSE(IsPinnedPublisher(pins, 2, key));
}

TEST(AuthenticodeCheck, TheRefusalNamesTheReasonAndTheCode) {
    char words[128];
    ASSERT_TRUE(DescribeTrustResult(0x800B0100u, words, sizeof words));
    EXPECT_STREQ("the file is not signed (0x800B0100)", words);
    ASSERT_TRUE(DescribeTrustResult(0x80092026u, words, sizeof words));
    EXPECT_STREQ("it could not be verified (0x80092026)", words);
    char box[512];
    ASSERT_TRUE(DescribeSignedCheck(SignedCheck::SignatureNotTrusted, "Launcher64/1.1.1.25/launcher.exe",
                                    "the file was changed after it was signed (0x80096010)", box, sizeof box));
    EXPECT_STREQ("its Authenticode signature is not valid: the file was changed after it was signed (0x80096010)",
                 box);
    ASSERT_TRUE(DescribeSignedCheck(SignedCheck::OtherPublisher, "", "Another", box, sizeof box));
    EXPECT_STREQ("it is signed by \"Another\", not by the publisher this Updater was built for", box);
    // Cut short, it says so rather than passing a part for the whole.
    char small[16];
    EXPECT_FALSE(DescribeTrustResult(0x800B0100u, small, sizeof small));
    EXPECT_LT(std::strlen(small), sizeof small);
}
