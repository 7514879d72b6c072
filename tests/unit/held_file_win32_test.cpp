// Held files on a real disk: a second handle opened without sharing stands for the game that
// still has its file open. The waits are the product's loop with short bounds.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "content/held_file_win32.h"
#include "content/wide_partial_file_win32.h"
#include "support/report_recorder.h"
#include "support/temp_folder.h"

namespace {

HANDLE HoldWithoutSharing(const wchar_t* name) {
    return CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Partial files left beside target, whatever their number.
int PartialsBeside(const std::wstring& target) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((target + L".~*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return n;
}

using Events = std::vector<std::string>;

struct Built {
    WidePartialFile partial{"test"};
    explicit Built(const wchar_t* target, const char* bytes) {
        EXPECT_TRUE(partial.Create(target));
        EXPECT_TRUE(partial.Write(bytes, static_cast<unsigned long>(std::strlen(bytes))));
    }
};

uint64_t MsSince(ULONGLONG began) { return GetTickCount64() - began; }

}  // namespace

// Which refusals are holds: the codes themselves, and ERROR_ACCESS_DENIED (what a move over an
// open file meets) only where the target is a file that is held or that opens for writing.
TEST(HeldFile, TellsAHoldFromARefusalForGood) {
    TempFolder folder;
    folder.Write("held.bin", "old");
    folder.Write("free.bin", "old");
    ASSERT_TRUE(CreateDirectoryW(L"folder.bin", nullptr));
    EXPECT_TRUE(IsHeldCode(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(IsHeldCode(ERROR_LOCK_VIOLATION));
    EXPECT_FALSE(IsHeldCode(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(IsHeldFailure(L"held.bin", ERROR_DISK_FULL));
    HANDLE held = HoldWithoutSharing(L"held.bin");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    folder.Write("new.bin", "new");
    EXPECT_FALSE(MoveFileExW(L"new.bin", L"held.bin", MOVEFILE_REPLACE_EXISTING));
    const DWORD moveError = GetLastError();
    EXPECT_TRUE(IsHeldFailure(L"held.bin", moveError)) << moveError;
    EXPECT_FALSE(IsHeldFailure(L"folder.bin", ERROR_ACCESS_DENIED));
    EXPECT_FALSE(IsHeldFailure(L"missing.bin", ERROR_ACCESS_DENIED));
    CloseHandle(held);
    EXPECT_EQ("old", folder.Read("held.bin"));  // the probe wrote nothing
}

// Released within the wait: the partial that waited is the one moved in (nothing rebuilt),
// the file was reported held meanwhile, and the wait ends resumed. (Wine does not show another
// handle the deletion mark the partial keeps between tries; test_content_locked.py kills the
// launcher in the wait instead.)
TEST(HeldFile, APartialWaitsForItsTargetAndMovesInOnceFree) {
    TempFolder folder;
    folder.Write("game.dat", "old");
    ReportRecorder report;
    HANDLE held = HoldWithoutSharing(L"game.dat");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Built built(L"game.dat", "new bytes");
    int triesWhileHeld = 0;
    std::thread holder([&] {
        Sleep(1500);
        triesWhileHeld = report.heldTries.load();
        CloseHandle(held);
    });
    const ULONGLONG began = GetTickCount64();
    uint64_t lastWrite = 0;
    unsigned long error = 0;
    const int placed = PlaceWhileHeld(built.partial, L"game.dat", "game.dat", 8, 10000, &lastWrite, &error, report);
    holder.join();
    EXPECT_EQ(1, placed) << error;
    EXPECT_GE(MsSince(began), 1400u);
    EXPECT_EQ("new bytes", folder.Read("game.dat"));
    EXPECT_NE(0u, lastWrite);
    EXPECT_EQ(0, PartialsBeside(L"game.dat"));
    EXPECT_GE(triesWhileHeld, 1);
    EXPECT_EQ((Events{"held game.dat", "held over, resumed"}), report.events);
}

// Held past the wait: the failure is the hold's, the old file whole, no partial left, the wait
// over without resuming; an ending launcher ends the wait at once; a folder in the target's
// place is no hold and is not waited for (nor reported).
TEST(HeldFile, GivesUpAfterTheWaitOnAQuitAndAtOnceOnARefusal) {
    TempFolder folder;
    folder.Write("game.dat", "old");
    HANDLE held = HoldWithoutSharing(L"game.dat");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    {
        Built built(L"game.dat", "new");
        ReportRecorder report;
        unsigned long error = 0;
        const ULONGLONG began = GetTickCount64();
        EXPECT_EQ(0, PlaceWhileHeld(built.partial, L"game.dat", "game.dat", 8, 1200, nullptr, &error, report));
        EXPECT_GE(MsSince(began), 1200u);
        EXPECT_LT(MsSince(began), 5000u);
        EXPECT_TRUE(IsHeldFailure(L"game.dat", error)) << error;
        EXPECT_EQ(0, PartialsBeside(L"game.dat"));
        EXPECT_GE(report.heldTries.load(), 1);
        EXPECT_EQ((Events{"held game.dat", "held over"}), report.events);
    }
    {
        Built built(L"game.dat", "new");
        ReportRecorder report;
        report.ending = 1;
        unsigned long error = 0;
        const ULONGLONG began = GetTickCount64();
        EXPECT_EQ(0, PlaceWhileHeld(built.partial, L"game.dat", "game.dat", 8, 30000, nullptr, &error, report));
        EXPECT_LT(MsSince(began), 1000u);
        EXPECT_EQ(0, PartialsBeside(L"game.dat"));
        EXPECT_EQ((Events{"held game.dat", "held over"}), report.events);
    }
    CloseHandle(held);
    EXPECT_EQ("old", folder.Read("game.dat"));

    ASSERT_TRUE(CreateDirectoryW(L"folder.dat", nullptr));
    Built built(L"folder.dat", "new");
    ReportRecorder report;
    unsigned long error = 0;
    const ULONGLONG began = GetTickCount64();
    EXPECT_EQ(0, PlaceWhileHeld(built.partial, L"folder.dat", "folder.dat", 10, 30000, nullptr, &error, report));
    EXPECT_LT(MsSince(began), 1000u);
    EXPECT_EQ(0, PartialsBeside(L"folder.dat"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"folder.dat"));
    EXPECT_TRUE(report.events.empty());
}

// An ending launcher seen in the middle of a wait ends it before the next try: the file stays
// held for the try that never comes, and the wait is over without resuming.
TEST(HeldFile, AnEndingLauncherEndsTheWaitUnderWay) {
    TempFolder folder;
    folder.Write("old.dat", "old");
    HANDLE held = HoldWithoutSharing(L"old.dat");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ReportRecorder report;
    std::thread ender([&] {
        Sleep(1300);
        report.ending = 1;
    });
    unsigned long error = 0;
    const ULONGLONG began = GetTickCount64();
    EXPECT_EQ(0, DeleteWhileHeld(L"old.dat", "old.dat", 7, 30000, &error, report));
    const uint64_t waited = MsSince(began);
    ender.join();
    CloseHandle(held);
    EXPECT_GE(waited, 1300u);
    EXPECT_LT(waited, 5000u);
    EXPECT_GE(report.heldTries.load(), 2);
    EXPECT_EQ((Events{"held old.dat", "held over"}), report.events);
    EXPECT_TRUE(folder.Exists("old.dat"));
}

// Deleting an old file: a missing one is done, a read-only one goes (neither waits), a held
// one goes once released, and one held past the wait stays whole.
TEST(HeldFile, DeletionWaitsOutAHold) {
    TempFolder folder;
    ReportRecorder quick;
    unsigned long error = 0;
    EXPECT_EQ(1, DeleteWhileHeld(L"missing.dat", "missing.dat", 11, 1000, &error, quick));
    folder.Write("read-only.dat", "x");
    ASSERT_TRUE(SetFileAttributesW(L"read-only.dat", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(1, DeleteWhileHeld(L"read-only.dat", "read-only.dat", 13, 1000, &error, quick)) << error;
    EXPECT_FALSE(folder.Exists("read-only.dat"));
    EXPECT_TRUE(quick.events.empty());

    folder.Write("old.dat", "old");
    HANDLE held = HoldWithoutSharing(L"old.dat");
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ReportRecorder pastTheWait;
    EXPECT_EQ(0, DeleteWhileHeld(L"old.dat", "old.dat", 7, 1100, &error, pastTheWait));
    EXPECT_TRUE(IsHeldFailure(L"old.dat", error)) << error;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"old.dat"));  // held: not even readable
    EXPECT_EQ((Events{"held old.dat", "held over"}), pastTheWait.events);
    std::thread holder([&] {
        Sleep(1200);
        CloseHandle(held);
    });
    ReportRecorder released;
    EXPECT_EQ(1, DeleteWhileHeld(L"old.dat", "old.dat", 7, 10000, &error, released)) << error;
    holder.join();
    EXPECT_FALSE(folder.Exists("old.dat"));
    EXPECT_EQ((Events{"held old.dat", "held over, resumed"}), released.events);
}
