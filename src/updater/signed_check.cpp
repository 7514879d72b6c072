// The keyed Updater's checks against the signed manifest, and their words.
#include "updater/signed_check.h"

#include "common/bounded_text.h"
#include "update/manifest_trust.h"
#include "update/signed_patch_info.h"

bool BuildSignedFileRequestUrl(char* out, std::size_t size, const char* base, const char* name, uint32_t tick) {
    return FormatText(out, size, "%s/%s?tick=%u", base, name, static_cast<unsigned>(tick));
}

SignedCheck CheckFetchedManifest(const char* text, std::size_t length, bool signatureGood, uint64_t keptSequence,
                                 int64_t now, int expiryRequired, Manifest* out) {
    // Nothing of an unsigned text is read, not even its format.
    if (!signatureGood) return SignedCheck::BadSignature;
    if (!ParseManifest(text, length, out)) return SignedCheck::Malformed;
    if (expiryRequired && !out->HasExpiry) return SignedCheck::NoExpiry;
    switch (CheckManifestFreshness(*out, keptSequence, now)) {
    case kManifestFresh: return SignedCheck::Passed;
    case kManifestRolledBack: return SignedCheck::RolledBack;
    default: return SignedCheck::Expired;
    }
}

SignedCheck FileCheckResult(int fileCheck) {
    switch (fileCheck) {
    case kFileVerified: return SignedCheck::Passed;
    case kFileUnlisted: return SignedCheck::Unlisted;
    case kFileSizeDiffers: return SignedCheck::SizeDiffers;
    case kFileHashDiffers: return SignedCheck::HashDiffers;
    default: return SignedCheck::Unreadable;
    }
}

bool DescribeSignedCheck(SignedCheck check, const char* listedPath, const char* detail, char* out, std::size_t size) {
    const char* m = kManifestServedName;
    switch (check) {
    case SignedCheck::Passed:
        return CopyText(out, size, "it passed");
    case SignedCheck::ManifestNotFetched:
        return FormatText(out, size, "the signed list of published files, %s, could not be downloaded: %s", m, detail);
    case SignedCheck::SignatureNotFetched:
        return FormatText(out, size, "the signature of %s, %s, could not be downloaded: %s", m, kSignatureServedName,
                          detail);
    case SignedCheck::BadSignature:
        return FormatText(out, size, "%s is not signed with the key this Updater was built with", m);
    case SignedCheck::Malformed:
        return FormatText(out, size, "%s is signed but not in the format this Updater reads", m);
    case SignedCheck::RolledBack:
        return FormatText(out, size, "%s is older than the one the launcher already has (an old publication "
                          "sent again)", m);
    case SignedCheck::Expired:
        return FormatText(out, size, "%s has expired: the publisher must sign it again", m);
    case SignedCheck::Unlisted:
        return FormatText(out, size, "%s does not list %s", m, listedPath);
    case SignedCheck::SizeDiffers:
        return FormatText(out, size, "its size is not the one %s lists for %s", m, listedPath);
    case SignedCheck::HashDiffers:
        return FormatText(out, size, "its content is not the one %s lists for %s (its SHA-256 differs)", m,
                          listedPath);
    case SignedCheck::Unreadable:
        return CopyText(out, size, "it could not be read back to be checked");
    case SignedCheck::NoExpiry:
        return FormatText(out, size, "%s carries no expiry time, which this Updater requires", m);
    case SignedCheck::NoCurrentRoot:
        return FormatText(out, size, "no current root document (%sN) vouches for the key that signs %s: the "
                          "publisher must sign a new root", kRootServedPrefix, m);
    case SignedCheck::SignatureNotTrusted:
        return FormatText(out, size, "its Authenticode signature is not valid: %s", detail);
    case SignedCheck::OtherPublisher:
        return FormatText(out, size, "it is signed by \"%s\", not by the publisher this Updater was built for",
                          detail);
    }
    return CopyText(out, size, "it could not be checked");
}
