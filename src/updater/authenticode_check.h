// What the Updater makes of an Authenticode signature, with no platform calls: whether a
// signer's key is the built-in publisher's, and plain words for the system's refusal codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "updater/authenticode_publisher.h"

// Whether digest (the SHA-256 of a signer's SubjectPublicKeyInfo DER) is one of the pins.
bool IsPinnedPublisher(const uint8_t (*pins)[kPublisherPinSize], int pinCount,
                       const uint8_t digest[kPublisherPinSize]);

// Words for a WinVerifyTrust or certificate-chain result (an HRESULT), with its code:
// "the file is not signed (0x800B0100)". False when cut.
bool DescribeTrustResult(uint32_t code, char* out, std::size_t size);
