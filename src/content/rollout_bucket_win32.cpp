// The bucket drawn once per install and kept where only administrators write. Which of two
// signed releases an install takes is all it decides, so a local value is safe enough; the
// percentage comes with the signed patch information.
#include "content/rollout_bucket_win32.h"

#include <windows.h>
#include <bcrypt.h>

#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "settings/version_record.h"
#include "update/patch_info.h"
#include "update/rollout.h"
#include "update/sequence_floor_win32.h"
#include "update/versions_win32.h"

namespace {

bool ReadKeptBucket(uint32_t* bucket) {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG status =
        RegQueryValueExA(key.Get(), kBucketValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("bucket value", kBucketValueName, status);
        return false;
    }
    if (type != REG_DWORD || size != sizeof value || value >= kRolloutBuckets) {
        TraceFailure("bucket value", kBucketValueName, ERROR_INVALID_DATA);
        return false;
    }
    *bucket = value;
    return true;
}

// Uniform over the buckets: draws past the largest multiple of their count are drawn again.
uint32_t DrawBucket() {
    const uint32_t bound = UINT32_MAX - UINT32_MAX % kRolloutBuckets;
    for (int i = 0; i < 16; ++i) {
        uint32_t draw = 0;
        const NTSTATUS status = BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&draw), sizeof draw,
                                                BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) {
            TraceFailure("bucket draw", kBucketValueName, static_cast<unsigned long>(status));
            break;
        }
        if (draw < bound) return draw % kRolloutBuckets;
    }
    return kRolloutBuckets - 1;  // the last bucket: the latest to take any rollout
}

}  // namespace

uint32_t InstallBucket() {
    uint32_t bucket = 0;
    if (ReadKeptBucket(&bucket)) return bucket;
    bucket = DrawBucket();
    const DWORD value = bucket;
    SetInstallationValue("bucket", kBucketValueName, REG_DWORD, &value, sizeof value);
    return bucket;
}

void ApplyRollout() {
    RolloutState rollout;
    if (!ReadRollout("update.dat", &rollout) || rollout.Version <= 0) return;
    const int32_t target = RolloutTarget(rollout, NewestPlayerVersion, InstallBucket(), CurrentVersion.load());
    if (target < NewestPlayerVersion) HoldBackTo(target);
}
