// The built-in signing key or root keys, from the header cmake/signing.cmake generates. This
// file defines nothing else: a test build links a copy compiled against other keys in its
// place.
#include "update/signing_key.h"

#include "build_signing_key.h"

static_assert(sizeof kSigningPublicKey == kPublicKeySize, "the key is the point's X and Y");
static_assert(sizeof kRootKeys[0] == kPublicKeySize, "a root key is its point's X and Y");

const int RootKeysPresent = kRootKeysPresent ? 1 : 0;
// A launcher with root keys is keyed too: every road that checks the manifest takes them.
const int SigningKeyPresent = kSigningKeyPresent || kRootKeysPresent ? 1 : 0;
const uint8_t* const SigningPublicKey = kSigningPublicKey;
const uint32_t BuiltInRootThreshold = kRootThreshold;
const uint32_t BuiltInRootKeyCount = kRootKeysPresent ? sizeof kRootKeys / sizeof kRootKeys[0] : 0;
const uint8_t (*const BuiltInRootKeys)[kPublicKeySize] = kRootKeys;
