// The root document's text and one step of the walk, with a stand-in for ECDSA: a "signature"
// is good when its first byte is the key's first byte and the rest repeat the digest's first.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "update/root_document.h"

namespace {

std::string Key(char c) { return std::string(128, c); }

int FakeVerify(const uint8_t key[kPublicKeySize], const uint8_t digest[kSha256Size],
               const uint8_t signature[kSignatureSize]) {
    if (signature[0] != key[0]) return 0;
    for (std::size_t i = 1; i < kSignatureSize; ++i)
        if (signature[i] != digest[0]) return 0;
    return 1;
}

// A signature line FakeVerify accepts for key (all bytes 0xkk) and a digest starting with 0xaa.
std::string Signature(char c) { return "signature " + Key(c) + " " + std::string(2, c) + std::string(126, 'a') + "\n"; }

std::string Body(int version, int threshold, const std::string& roots, const std::string& online = "online " + Key('9') + "\n") {
    return "QOR-PATCH-ROOT 1\nversion " + std::to_string(version) + "\nexpires 2000000000\nthreshold " +
           std::to_string(threshold) + "\n" + roots + online;
}

std::string Roots(const std::string& keys) {
    std::string lines;
    for (char c : keys) lines += "root " + Key(c) + "\n";
    return lines;
}

std::unique_ptr<RootDocument> Parsed(const std::string& text) {
    auto document = std::make_unique<RootDocument>();
    EXPECT_EQ(1, ParseRootDocument(text.data(), text.size(), document.get())) << text;
    return document;
}

int Refused(const std::string& text) {
    RootDocument document;
    const int result = ParseRootDocument(text.data(), text.size(), &document);
    return result == 0 && document.KeyCount == 0 && document.SignatureCount == 0 && document.Version == 0;
}

const uint8_t kDigest[kSha256Size] = {0xaa};

}  // namespace

TEST(RootDocument, ReadsEveryFieldAndWhereTheSignedTextEnds) {
    const std::string body = Body(3, 2, Roots("123"));
    auto root = Parsed(body + Signature('1') + Signature('3'));
    EXPECT_EQ(3u, root->Version);
    EXPECT_EQ(2000000000u, root->Expires);
    EXPECT_EQ(2u, root->Threshold);
    EXPECT_EQ(3u, root->KeyCount);
    EXPECT_EQ(1u, root->OnlineKeyCount);
    EXPECT_EQ(0x99, root->OnlineKeys[0][63]);
    EXPECT_EQ(body.size(), root->SignedLength);
    EXPECT_EQ(2u, root->SignatureCount);
    EXPECT_EQ(body.size(), Parsed(body)->SignedLength);
}

TEST(RootDocument, RefusesWhatWouldCountAKeyTwiceOrReadTwoWays) {
    EXPECT_TRUE(Refused(Body(1, 2, Roots("11"))));           // a key twice
    EXPECT_TRUE(Refused(Body(1, 1, Roots("21"))));           // out of order
    EXPECT_TRUE(Refused(Body(1, 3, Roots("12"))));           // threshold above the keys
    EXPECT_TRUE(Refused(Body(1, 0, Roots("1"))));            // nobody need sign
    EXPECT_TRUE(Refused(Body(0, 1, Roots("1"))));            // the built-in keys' version
    EXPECT_TRUE(Refused(Body(1, 1, Roots("1"), "")));        // no online key
    EXPECT_TRUE(Refused(Body(1, 1, Roots("123456789"))));    // more root keys than fit
    EXPECT_TRUE(Refused(Body(1, 1, Roots("1")) + Signature('1') + "root " + Key('2') + "\n"));
    EXPECT_TRUE(Refused(Body(1, 1, "root " + Key('A') + "\n")));  // upper-case hex
    std::string many = Body(1, 1, Roots("1"));
    for (int i = 0; i < 17; ++i) many += Signature('1');
    EXPECT_TRUE(Refused(many));
}

TEST(RootDocument, TheNextVersionNeedsBothThresholdsAndEachKeyCountsOnce) {
    RootDocument builtIn;
    uint8_t keys[3][kPublicKeySize];
    for (int k = 0; k < 3; ++k) std::memset(keys[k], 0x11 * (k + 1), kPublicKeySize);
    BuiltInRootDocument(keys, 3, 2, &builtIn);
    EXPECT_EQ(0, RootExpired(builtIn, 4000000000));

    const std::string body = Body(1, 2, Roots("12"));
    EXPECT_EQ(kRootAccepted, CheckNextRoot(builtIn, *Parsed(body + Signature('1') + Signature('2')), kDigest, FakeVerify));
    // One key's signature twice is still one signer.
    EXPECT_EQ(kRootBelowOldThreshold,
              CheckNextRoot(builtIn, *Parsed(body + Signature('1') + Signature('1')), kDigest, FakeVerify));
    // Two of the old keys, but only one of its own.
    EXPECT_EQ(kRootBelowOwnThreshold,
              CheckNextRoot(builtIn, *Parsed(Body(1, 2, Roots("14")) + Signature('1') + Signature('2')), kDigest,
                            FakeVerify));
    EXPECT_EQ(kRootNotNext,
              CheckNextRoot(builtIn, *Parsed(Body(2, 2, Roots("12")) + Signature('1') + Signature('2')), kDigest,
                            FakeVerify));
    EXPECT_EQ(1, RootExpired(*Parsed(body), 2000000000));
    EXPECT_EQ(0, RootExpired(*Parsed(body), 1999999999));
}
