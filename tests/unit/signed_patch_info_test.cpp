// The addresses of the files beside the patch information.
#include <gtest/gtest.h>

#include <string>

#include "update/remote_patch_info.h"
#include "update/signed_patch_info.h"

TEST(SideFileRequestUrl, BesideThePatchInformationWithTheSameTick) {
    char out[kPatchInfoRequestSize];
    ASSERT_EQ(1, BuildSideFileRequestUrl("https://127.0.0.1:48443/Setup/live/LauncherPatchInfo.txt",
                                         kManifestServedName, 4294967295u, out, sizeof out));
    EXPECT_STREQ("https://127.0.0.1:48443/Setup/live/LauncherPatchInfo.manifest?tick=4294967295", out);
    ASSERT_EQ(1, BuildSideFileRequestUrl("https://a.example/L.txt", kSignatureServedName, 0, out, sizeof out));
    EXPECT_STREQ("https://a.example/LauncherPatchInfo.manifest.sig?tick=0", out);
    EXPECT_EQ(0, BuildSideFileRequestUrl("no-slash", kManifestServedName, 1, out, sizeof out));
    const std::string longFolder = "https://a.example/" + std::string(990, 'f') + "/L.txt";
    EXPECT_EQ(0, BuildSideFileRequestUrl(longFolder.c_str(), kManifestServedName, 1, out, sizeof out));
}
