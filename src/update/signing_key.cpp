// The built-in signing key, from the header cmake/signing.cmake generates. This file defines
// nothing else: a test build links a copy compiled against another key in its place.
#include "update/signing_key.h"

#include "build_signing_key.h"

static_assert(sizeof kSigningPublicKey == kPublicKeySize, "the key is the point's X and Y");

const int SigningKeyPresent = kSigningKeyPresent ? 1 : 0;
const uint8_t* const SigningPublicKey = kSigningPublicKey;
