// The install's rollout bucket and the hold-back it decides, for content launchers.
#pragma once

#include <cstdint>

// The value under HKEY_LOCAL_MACHINE\kInstallerRegistryKey (a REG_DWORD, 0 to 99).
constexpr char kBucketValueName[] = "ContentBucket";

// This install's bucket: the kept one, or one drawn now from the system's random numbers and
// kept (a bucket that cannot be kept still serves this start).
uint32_t InstallBucket();

// After the patch information was parsed: an install outside the channel's staged rollout is
// held back to the release before it (HoldBackTo), everything after seeing that as the newest.
void ApplyRollout();
