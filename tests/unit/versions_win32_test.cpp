// The launcher's own version resource and the installer version in the registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "update/patch_info.h"
#include "update/versions_win32.h"

namespace {

// The registry value is set the way an installer would leave it, with the system's reg tool.
void SetInstalledVersion(const char* value) {
    std::string command = std::string("reg add \"HKLM\\") + kInstallerRegistryKey +
                          "\" /v InstallerVersion /d " + value + " /f >NUL 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
}

void DeleteInstallerKey() {
    std::string command = std::string("reg delete \"HKLM\\") + kInstallerRegistryKey + "\" /f >NUL 2>&1";
    std::system(command.c_str());
}

}  // namespace

TEST(LauncherVersionResource, ReadsTheFixedFileVersion) {
    const VersionQuad built = ReadVersionText(TEST_LAUNCHER_FILE_VERSION);
    const VersionQuad v = ReadLauncherVersion();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(built.field[i], v.field[i]) << TEST_LAUNCHER_FILE_VERSION << " field " << i;
    EXPECT_NE(0, built.field[0] + built.field[1] + built.field[2] + built.field[3]);
}

TEST(InstallerVersion, ComparedWithTheRequiredVersion) {
    SetInstalledVersion("1.0.0.9");
    std::strcpy(RequiredInstallerVersion, "1.0.0.10");
    EXPECT_EQ(1, IsInstallerUpdateNeeded());
    SetInstalledVersion("2.0.0.0");
    std::strcpy(RequiredInstallerVersion, "1.9.9.9");
    EXPECT_EQ(0, IsInstallerUpdateNeeded());
    SetInstalledVersion("1.2");
    std::strcpy(RequiredInstallerVersion, "1.2.0.0");
    EXPECT_EQ(0, IsInstallerUpdateNeeded());
    DeleteInstallerKey();
    std::strcpy(RequiredInstallerVersion, "9.9.9.9");
    EXPECT_EQ(0, IsInstallerUpdateNeeded());
    RequiredInstallerVersion[0] = '\0';
}
