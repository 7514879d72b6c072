// The manifest signing key built into the launcher (LAUNCHER_SIGNING_PUBLIC_KEY), if any.
#pragma once

#include <cstdint>

#include "update/manifest.h"

// 1 in a launcher branded with a signing key: it then fetches the signed manifest with the
// patch information and installs only what that lists. 0: it behaves as if no manifest existed.
extern const int SigningKeyPresent;
// The key's point, X then Y (kPublicKeySize bytes); all zero without a key.
extern const uint8_t* const SigningPublicKey;
