// The plain sides the content worker's build is compared with, in the same Wine prefix: every
// file of a folder copied into another with CopyFileW, or with a 1 MiB ReadFile/WriteFile loop
// flushed before each close (the worker flushes each file it builds); and Windows' SHA-256
// (BCrypt, what the worker checks every chunk with) over the same bytes in 64 KiB pieces.
//   file_copy_win32_bench copyfile|loop SOURCE_FOLDER TARGET_FOLDER
//   file_copy_win32_bench sha256 SOURCE_FOLDER
// Prints "bytes N files F seconds S" for the one pass it makes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/win32_handle.h"
#include "update/signature_win32.h"

namespace {

constexpr DWORD kBlock = 1u << 20;
constexpr DWORD kHashPiece = 64u * 1024;

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Pass {
    int Mode = 0;  // 0 copyfile, 1 loop, 2 sha256
    unsigned long long Bytes = 0;
    unsigned Files = 0;
    std::unique_ptr<unsigned char[]> Buffer;
};

bool CopyLoop(Pass& pass, const std::wstring& from, const std::wstring& to) {
    FileHandle in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    FileHandle out(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in || !out) return false;
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(in.Get(), pass.Buffer.get(), kBlock, &got, nullptr)) return false;
        if (got == 0) break;
        if (!WriteFile(out.Get(), pass.Buffer.get(), got, &written, nullptr) || written != got) return false;
    }
    return FlushFileBuffers(out.Get()) != 0;
}

bool HashFile(Pass& pass, const std::wstring& from) {
    FileHandle in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return false;
    uint8_t digest[kSha256Size];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.Get(), pass.Buffer.get(), kBlock, &got, nullptr)) return false;
        if (got == 0) break;
        for (DWORD at = 0; at < got; at += kHashPiece) {
            const DWORD n = got - at < kHashPiece ? got - at : kHashPiece;
            if (!Sha256Of(pass.Buffer.get() + at, n, digest)) return false;
        }
    }
    return true;
}

bool Walk(Pass& pass, const std::wstring& from, const std::wstring& to) {
    if (pass.Mode != 2) CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring source = from + L"\\" + name;
        const std::wstring target = to + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = Walk(pass, source, target);
            continue;
        }
        if (pass.Mode == 0) ok = CopyFileW(source.c_str(), target.c_str(), FALSE) != 0;
        else if (pass.Mode == 1) ok = CopyLoop(pass, source, target);
        else ok = HashFile(pass, source);
        pass.Bytes += (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        ++pass.Files;
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

std::wstring Wide(const char* text) {
    wchar_t out[MAX_PATH * 4];
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, MAX_PATH * 4);
    return n > 0 ? std::wstring(out) : std::wstring();
}

}  // namespace

int main(int argc, char** argv) {
    Pass pass;
    if (argc >= 3 && std::strcmp(argv[1], "loop") == 0) pass.Mode = 1;
    else if (argc >= 3 && std::strcmp(argv[1], "sha256") == 0) pass.Mode = 2;
    else if (argc < 4 || std::strcmp(argv[1], "copyfile") != 0) {
        std::fprintf(stderr, "usage: file_copy_win32_bench copyfile|loop SOURCE TARGET | sha256 SOURCE\n");
        return 2;
    }
    if (pass.Mode != 2 && argc < 4) return 2;
    pass.Buffer.reset(new unsigned char[kBlock]);
    const double start = Now();
    const bool ok = Walk(pass, Wide(argv[2]), pass.Mode == 2 ? std::wstring() : Wide(argv[3]));
    const double seconds = Now() - start;
    if (!ok) {
        std::fprintf(stderr, "file_copy_win32_bench: failed (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("bytes %llu files %u seconds %.6f\n", pass.Bytes, pass.Files, seconds);
    return 0;
}
