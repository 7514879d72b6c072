// The Authenticode check of an Updater built for a publisher (LAUNCHER_AUTHENTICODE_*): the new
// launcher or installer must carry a valid signature whose signer's key is the publisher's.
#pragma once

#include <windows.h>

#include <cstddef>

#include "updater/signed_check.h"

// Whether this Updater was built for a publisher; without one it checks no Authenticode signature.
bool UpdaterHasPublisher();

// The file behind file (open for reading; path names the same file) through WinVerifyTrust,
// read through that handle: its signature and digest, every certificate of the signer's chain,
// and the signer's public key against the built-in pins. Revocation is not asked about: a
// player offline, or behind a network that drops the certificate authority's addresses, must
// still be able to update. Passed; SignatureNotTrusted with the reason in detail; or
// OtherPublisher with the signer's name in detail.
SignedCheck CheckAuthenticode(HANDLE file, const char* path, char* detail, std::size_t detailSize);
