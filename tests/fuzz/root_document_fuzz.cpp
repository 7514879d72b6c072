// The root document as a server could send it: the parser reads it before any signature is
// checked. Input: the text's bytes, in a heap block of exactly their length.
//
// A refused text must leave an empty document. An accepted one must be the canonical text of
// what was parsed, byte for byte (no two texts mean one document, nothing skipped), with keys
// ascending and no two alike, a threshold a quorum of its keys can meet, and the signed part
// ending where the first signature line begins.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "update/root_document.h"

namespace {

std::string Hex(const uint8_t* bytes, std::size_t size) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string KeyLines(const char* word, const uint8_t (*keys)[kPublicKeySize], uint32_t count) {
    std::string text;
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) FUZZ_CHECK(std::memcmp(keys[i - 1], keys[i], kPublicKeySize) < 0);
        text += std::string(word) + " " + Hex(keys[i], kPublicKeySize) + "\n";
    }
    return text;
}

std::string Canonical(const RootDocument& d) {
    std::string text = std::string(kRootFormatLine) + "\nversion " + std::to_string(d.Version) + "\nexpires " +
                       std::to_string(d.Expires) + "\nthreshold " + std::to_string(d.Threshold) + "\n";
    text += KeyLines("root", d.Keys, d.KeyCount) + KeyLines("online", d.OnlineKeys, d.OnlineKeyCount);
    FUZZ_CHECK(d.SignedLength == text.size());
    for (uint32_t i = 0; i < d.SignatureCount; ++i)
        text += "signature " + Hex(d.Signatures[i].Key, kPublicKeySize) + " " +
                Hex(d.Signatures[i].Signature, kSignatureSize) + "\n";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static RootDocument document;
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);

    const int result = ParseRootDocument(text.get(), size, &document);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        FUZZ_CHECK(document.Version == 0 && document.KeyCount == 0 && document.SignatureCount == 0);
        return 0;
    }
    FUZZ_CHECK(document.Version > 0 && document.HasExpiry == 1);
    FUZZ_CHECK(document.KeyCount >= 1 && document.KeyCount <= kRootMaxKeys);
    FUZZ_CHECK(document.OnlineKeyCount >= 1 && document.OnlineKeyCount <= kRootMaxOnlineKeys);
    FUZZ_CHECK(document.Threshold >= 1 && document.Threshold <= document.KeyCount);
    FUZZ_CHECK(document.SignatureCount <= kRootMaxSignatures);
    const std::string canonical = Canonical(document);
    if (canonical.size() != size || std::memcmp(canonical.data(), data, size) != 0)
        FuzzFail(__FILE__, __LINE__, "an accepted text is not the canonical text of what was parsed");
    return 0;
}
