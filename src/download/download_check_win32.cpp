// The chunk-by-chunk check of a patch file against the verified manifest.
#include "download/download_check.h"

#include <cstring>

#include "update/signed_patch_info.h"

DownloadCheck::DownloadCheck(const char* subPath, const char* name) : required_(ManifestRequired != 0) {
    if (!required_) return;
    char path[kManifestPathSize];
    if (ManifestPathOf(subPath, name, path, sizeof path)) entry_ = FindManifestEntry(VerifiedManifest, path);
    if (entry_) hash_.emplace();
}

bool DownloadCheck::Feed(const void* data, std::size_t length) {
    if (!required_) return true;
    received_ += length;
    if (!entry_ || received_ > entry_->Size) return false;
    return hash_->Update(data, length);
}

bool DownloadCheck::Verified() {
    if (!required_) return true;
    uint8_t digest[kSha256Size];
    if (!entry_ || received_ != entry_->Size || !hash_->Finish(digest)) return false;
    return std::memcmp(digest, entry_->Sha256, kSha256Size) == 0;
}
