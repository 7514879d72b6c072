// Release-manifest deltas: how one is named below the patch base, and applying one in memory
// against the manifest a launcher kept of its installed release.
//
// Content/release-deltas/<V>-<U>.delta is one zstd frame (--patch-from) that makes release V's
// manifest from release U's. The publisher lists it in the signed manifest only beside V.release,
// whose signed size and SHA-256 the result must match: the kept manifest it is applied to lies in
// a folder users can write, so it serves as a dictionary and nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char* kReleaseDeltaFolder = "Content/release-deltas/";

// The listed path of the delta from release base to release release. 1, or 0 when it does not
// fit out (size bytes).
int ReleaseDeltaPath(uint32_t release, uint32_t base, char* out, std::size_t size);

// 1 and *base when path is exactly the delta of some release to release (decimal numbers
// without leading zeros, 1 to 2^31-1, the base before the release); 0 otherwise.
int ReleaseDeltaBase(const char* path, uint32_t release, uint32_t* base);

// Applies delta (deltaSize bytes) against base into out, which must come out exactly outSize
// bytes long. kDeltaApplied (delta_apply.h) or its refusal; out's bytes are unspecified then.
// The caller checks the result's SHA-256: a wrong base may still decode.
int ApplyReleaseDelta(const uint8_t* base, std::size_t baseSize, const uint8_t* delta, std::size_t deltaSize,
                      uint8_t* out, std::size_t outSize);
