// The manifest signing key built into the launcher (LAUNCHER_SIGNING_PUBLIC_KEY), or its root
// keys (LAUNCHER_ROOT_KEYS), if any.
#pragma once

#include <cstdint>

#include "update/manifest.h"

// 1 in a launcher branded with a signing key or with root keys: it then fetches the signed
// manifest with the patch information and installs only what that lists. 0: it behaves as if
// no manifest existed.
extern const int SigningKeyPresent;
// The key's point, X then Y (kPublicKeySize bytes); all zero without a key.
extern const uint8_t* const SigningPublicKey;

// 1 in a launcher branded with root keys: the manifest's signers are then the online keys of
// the newest root document those keys vouch for (manifest_trust_win32.h), never a fixed key.
extern const int RootKeysPresent;
// How many of the built-in root keys must sign root document version 1, and the keys
// themselves (BuiltInRootKeyCount points, ascending).
extern const uint32_t BuiltInRootThreshold;
extern const uint32_t BuiltInRootKeyCount;
extern const uint8_t (*const BuiltInRootKeys)[kPublicKeySize];
