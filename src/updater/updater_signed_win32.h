// The signed manifest in an Updater built with a signing key: fetched with the certificate
// checked in full, verified with the built-in key through BCrypt, held against the manifest
// the launcher kept beside it; then every file it installs or starts is checked against it.
#pragma once

#include <cstddef>

#include "updater/signed_check.h"

// Whether this Updater was built with a signing key (LAUNCHER_SIGNING_PUBLIC_KEY); without one
// it never asks for the manifest.
bool UpdaterHasSigningKey();

// Fetches <base>/LauncherPatchInfo.manifest and its .sig with one cache-busting tick, verifies
// the signature, parses the text, and refuses a sequence below that of the launcher's kept
// "update.manifest" in the Updater's folder, or an expired manifest. Passed keeps the manifest
// for the two checks below; a failed download puts its words into detail.
SignedCheck FetchSignedManifest(const char* base, char* detail, std::size_t detailSize);

// Whether the manifest fetched last lists listedPath (a path below the base).
SignedCheck CheckListed(const char* listedPath);

// The downloaded localFile against that manifest's entry for listedPath: its size and its
// SHA-256, read once from disk, so what is checked is what the swap or the start will use.
SignedCheck CheckDownloaded(const char* listedPath, const char* localFile);
