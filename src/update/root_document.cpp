// Parsing the root document and checking one step of the walk from a trusted root.
#include "update/root_document.h"

#include <cstring>

#include "update/line_fields.h"

namespace {

bool TakeKeyLine(Field line, const char* word, uint8_t key[kPublicKeySize]) {
    return TakeWord(&line, word) && TakeWord(&line, " ") && ReadHexBytes(line, key, kPublicKeySize);
}

// Lines "<word> <key>" in ascending order, no two alike, at least one and at most capacity.
bool ReadKeyLines(Lines* lines, Field* line, bool* more, const char* word, uint8_t (*keys)[kPublicKeySize],
                  uint32_t capacity, uint32_t* count) {
    *count = 0;
    uint8_t key[kPublicKeySize];
    while (*more && TakeKeyLine(*line, word, key)) {
        if (*count == capacity) return false;
        // Ascending order makes a key listed twice, which would count twice towards a
        // threshold, impossible.
        if (*count > 0 && std::memcmp(keys[*count - 1], key, kPublicKeySize) >= 0) return false;
        std::memcpy(keys[(*count)++], key, kPublicKeySize);
        *more = lines->Next(line);
    }
    return *count > 0;
}

bool ReadSignatureLine(Field line, RootSignature* out) {
    bool blank = false;
    if (!TakeWord(&line, "signature ")) return false;
    if (!ReadHexBytes(TakeUntilBlank(&line, &blank), out->Key, kPublicKeySize) || !blank) return false;
    return ReadHexBytes(line, out->Signature, kSignatureSize);
}

bool ParseInto(const char* text, std::size_t length, RootDocument* out) {
    if (length == 0 || length > kRootMaxBytes || text[length - 1] != '\n') return false;
    if (std::memchr(text, '\0', length) != nullptr) return false;
    Lines lines(text, length);
    Field line;
    uint64_t threshold = 0;
    if (!lines.Next(&line) || line.length != std::strlen(kRootFormatLine) ||
        std::memcmp(line.at, kRootFormatLine, line.length) != 0)
        return false;
    if (!lines.Next(&line) || !ReadNumberLine(line, "version", &out->Version) || out->Version == 0) return false;
    if (!lines.Next(&line) || !ReadNumberLine(line, "expires", &out->Expires)) return false;
    if (!lines.Next(&line) || !ReadNumberLine(line, "threshold", &threshold)) return false;
    out->HasExpiry = 1;
    bool more = lines.Next(&line);
    if (!ReadKeyLines(&lines, &line, &more, "root", out->Keys, kRootMaxKeys, &out->KeyCount)) return false;
    if (threshold == 0 || threshold > out->KeyCount) return false;
    out->Threshold = static_cast<uint32_t>(threshold);
    if (!ReadKeyLines(&lines, &line, &more, "online", out->OnlineKeys, kRootMaxOnlineKeys, &out->OnlineKeyCount))
        return false;
    // The line just read is the first signature line (or there is none): the signed text ends
    // where it begins.
    out->SignedLength = more ? static_cast<std::size_t>(line.at - text) : length;
    for (; more; more = lines.Next(&line)) {
        if (out->SignatureCount == kRootMaxSignatures) return false;
        if (!ReadSignatureLine(line, &out->Signatures[out->SignatureCount])) return false;
        ++out->SignatureCount;
    }
    return true;
}

void Empty(RootDocument* document) {
    document->Version = 0;
    document->HasExpiry = 0;
    document->Expires = 0;
    document->Threshold = 0;
    document->KeyCount = 0;
    document->OnlineKeyCount = 0;
    document->SignedLength = 0;
    document->SignatureCount = 0;
}

bool SignedBy(const RootDocument& document, const uint8_t digest[kSha256Size], const uint8_t key[kPublicKeySize],
              VerifyDigestFunction verify) {
    for (uint32_t i = 0; i < document.SignatureCount; ++i) {
        const RootSignature& s = document.Signatures[i];
        if (std::memcmp(s.Key, key, kPublicKeySize) == 0 && verify(key, digest, s.Signature)) return true;
    }
    return false;
}

}  // namespace

int ParseRootDocument(const char* text, std::size_t length, RootDocument* out) {
    Empty(out);
    if (ParseInto(text, length, out)) return 1;
    Empty(out);
    return 0;
}

void BuiltInRootDocument(const uint8_t (*keys)[kPublicKeySize], uint32_t keyCount, uint32_t threshold,
                         RootDocument* out) {
    Empty(out);
    out->KeyCount = keyCount < kRootMaxKeys ? keyCount : static_cast<uint32_t>(kRootMaxKeys);
    std::memcpy(out->Keys, keys, out->KeyCount * kPublicKeySize);
    out->Threshold = threshold;
}

uint32_t CountRootSigners(const RootDocument& document, const uint8_t digest[kSha256Size],
                          const uint8_t (*keys)[kPublicKeySize], uint32_t count, VerifyDigestFunction verify) {
    // Each key is a different key (the document lists them ascending, no two alike), so
    // counting over the keys rather than over the signatures counts every signer once.
    uint32_t signers = 0;
    for (uint32_t k = 0; k < count; ++k)
        if (SignedBy(document, digest, keys[k], verify)) ++signers;
    return signers;
}

int CheckNextRoot(const RootDocument& trusted, const RootDocument& next, const uint8_t digest[kSha256Size],
                  VerifyDigestFunction verify) {
    if (next.Version != trusted.Version + 1) return kRootNotNext;
    // A threshold of 0 would let nobody's signature through; only a broken build has one.
    if (trusted.Threshold == 0 ||
        CountRootSigners(next, digest, trusted.Keys, trusted.KeyCount, verify) < trusted.Threshold)
        return kRootBelowOldThreshold;
    if (CountRootSigners(next, digest, next.Keys, next.KeyCount, verify) < next.Threshold)
        return kRootBelowOwnThreshold;
    return kRootAccepted;
}

int RootExpired(const RootDocument& document, int64_t now) {
    if (!document.HasExpiry) return 0;
    return now < 0 || static_cast<uint64_t>(now) >= document.Expires ? 1 : 0;
}
