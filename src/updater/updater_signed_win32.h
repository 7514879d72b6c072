// The signed manifest in an Updater built with a signing key: fetched with the certificate
// checked in full, verified with the built-in key through BCrypt, held against the manifest
// the launcher kept beside it; then every file it installs or starts is checked against it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "updater/signed_check.h"

// Whether this Updater was built with a signing key (LAUNCHER_SIGNING_PUBLIC_KEY); without one
// it never asks for the manifest.
bool UpdaterHasSigningKey();

// Fetches <base>/LauncherPatchInfo.manifest and its .sig with one cache-busting tick, verifies
// the signature, parses the text, and refuses a sequence below the launcher's rollback floor
// (its kept "update.manifest" in the Updater's folder while "update.manifest.sig" verifies it,
// and the floor in the machine's registry), or an expired manifest. Passed keeps the manifest
// for the two checks below; a failed download puts its words into detail.
SignedCheck FetchSignedManifest(const char* base, char* detail, std::size_t detailSize);

// Whether the manifest fetched last lists listedPath (a path below the base).
SignedCheck CheckListed(const char* listedPath);

// The downloaded localFile against that manifest's entry for listedPath: its size and its
// SHA-256, read once from disk, so what is checked is what the swap or the start will use.
SignedCheck CheckDownloaded(const char* listedPath, const char* localFile);

// The size the manifest fetched last lists for listedPath; kNoSignedSize (updater_download_win32.h)
// when it has not passed or does not list it.
int64_t SignedSizeOf(const char* listedPath);

// The file behind file (opened for reading, held so that nobody can write, rename or delete
// it) against that manifest's entry for listedPath: read from its start through that same
// handle, so what is checked is what stays held until the new launcher has started.
SignedCheck CheckHeldDownload(const char* listedPath, HANDLE file);
