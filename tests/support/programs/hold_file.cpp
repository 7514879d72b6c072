// Stand-in for a game that keeps one of its files open: hold_file PATH READY STOP SECONDS opens
// PATH without sharing, writes READY, and holds the file until STOP exists or SECONDS have
// passed. Exit 0 after a hold, 2 on wrong arguments, 3 when PATH would not open.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const int seconds = std::atoi(argv[4]);
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("open failed: %lu\n", GetLastError());
        return 3;
    }
    FILE* ready = std::fopen(argv[2], "wb");
    if (ready) std::fclose(ready);
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(seconds > 0 ? seconds : 0) * 1000;
    while (GetTickCount64() < until && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    CloseHandle(file);
    return 0;
}
