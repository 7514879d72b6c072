// The Updater's Authenticode decisions that need no system: the publisher pin and the words.
#include "updater/authenticode_check.h"

#include <cstring>

#include "common/bounded_text.h"

bool IsPinnedPublisher(const uint8_t (*pins)[kPublisherPinSize], int pinCount,
                       const uint8_t digest[kPublisherPinSize]) {
    for (int i = 0; i < pinCount && i < kMaxPublisherPins; ++i)
        if (std::memcmp(pins[i], digest, kPublisherPinSize) == 0) return true;
    return false;
}

bool DescribeTrustResult(uint32_t code, char* out, std::size_t size) {
    const char* words = "it could not be verified";
    switch (code) {
    case 0x800B0100u: words = "the file is not signed"; break;                          // TRUST_E_NOSIGNATURE
    case 0x80096010u: words = "the file was changed after it was signed"; break;        // TRUST_E_BAD_DIGEST
    case 0x800B0109u: words = "its certificate does not chain to a trusted root"; break;  // CERT_E_UNTRUSTEDROOT
    case 0x800B010Au: words = "its certificate chain is incomplete"; break;             // CERT_E_CHAINING
    case 0x800B0101u: words = "its certificate has expired"; break;                     // CERT_E_EXPIRED
    case 0x800B010Cu: words = "its certificate was revoked"; break;                     // CERT_E_REVOKED
    case 0x800B0111u: words = "its publisher is explicitly distrusted"; break;          // TRUST_E_EXPLICIT_DISTRUST
    case 0x800B0110u: words = "its certificate may not sign programs"; break;           // CERT_E_WRONG_USAGE
    case 0x800B0004u: words = "the system does not trust its publisher"; break;         // TRUST_E_SUBJECT_NOT_TRUSTED
    case 0x80096019u: words = "its certificate is not valid for signing"; break;        // TRUST_E_BASIC_CONSTRAINTS
    default: break;
    }
    return FormatText(out, size, "%s (0x%08X)", words, static_cast<unsigned>(code));
}
