// Prints, for one run under the same Wine: DownloadFile against the plainest WinInet download
// of the same URL (same flags, 32 KB reads), and ExtractArchive against the plainest minizip
// loop over the same archive.
//   transfer_win32_bench FILE_NAME ARCHIVE_NAME
// Both names are relative to PatchBaseUrl + "/Player/" on the server, which the build bakes in.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/display_state.h"
#include "download/file_downloader.h"
#include "download/zip_extract.h"
#include "iowin32.h"
#include "settings/launcher_settings.h"
#include "unzip.h"

namespace {

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

long long FileSize(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The plainest download: one handle, the same flags, 32 KB reads, fwrite.
long long PlainDownload(const std::string& url, const char* target) {
    static char buffer[32768];
    HINTERNET root = InternetOpenA("MS", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlA(root, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE |
                                             INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID,
                                         0);
    long long total = 0;
    FILE* out = std::fopen(target, "wb");
    DWORD got = 0;
    while (request && out && InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0) {
        std::fwrite(buffer, 1, got, out);
        total += got;
    }
    if (out) std::fclose(out);
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    return total;
}

// The plainest minizip loop: every entry to a flat file named after it, 64 KB reads.
long long PlainExtract(const char* archive) {
    static char buffer[65536];
    zlib_filefunc_def functions;
    fill_win32_filefunc(&functions);
    unzFile zip = unzOpen2(archive, &functions);
    if (!zip) return -1;
    long long total = 0;
    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
        char name[256];
        unz_file_info info;
        unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        size_t length = std::strlen(name);
        if (length && (name[length - 1] == '/' || name[length - 1] == '\\')) continue;
        if (unzOpenCurrentFile(zip) != UNZ_OK) break;
        std::string target = std::string("plain-") + name;
        for (char& c : target)
            if (c == '/' || c == '\\') c = '_';
        FILE* out = std::fopen(target.c_str(), "wb");
        int n;
        while (out && (n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
            std::fwrite(buffer, 1, static_cast<size_t>(n), out);
            total += n;
        }
        if (out) std::fclose(out);
        unzCloseCurrentFile(zip);
    }
    unzClose(zip);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: transfer_win32_bench FILE_NAME ARCHIVE_NAME\n");
        return 2;
    }
    std::string url = std::string(LauncherSettings.PatchBaseUrl) + "/Player/" + argv[1];
    const double mb = 1024.0 * 1024.0;

    double start = Now();
    long long plainBytes = PlainDownload(url, "plain-download.bin");
    double plainSeconds = Now() - start;
    DeleteFileA("plain-download.bin");

    start = Now();
    int downloaded = DownloadFile(argv[1], "/Player/");
    double fileSeconds = Now() - start;
    long long fileBytes = FileSize(argv[1]);
    // DownloadFile ends every file with a fixed settle pause that is not transfer time.
    double fileTransfer = fileSeconds - kSettlePauseMs / 1000.0;
    DeleteFileA(argv[1]);

    std::printf("plain WinInet download:  %8.1f MB/s (%lld bytes in %.2f s)\n", plainBytes / mb / plainSeconds,
                plainBytes, plainSeconds);
    std::printf("DownloadFile:            %8.1f MB/s (%lld bytes in %.2f s, %d; %.2f s without the settle pause)\n",
                fileBytes / mb / fileTransfer, fileBytes, fileSeconds, downloaded, fileTransfer);
    std::printf("DownloadFile / plain:    %8.2f\n", (fileBytes / fileTransfer) / (plainBytes / plainSeconds));

    // The archive: fetched once with the plain loop, then unpacked both ways.
    std::string archiveUrl = std::string(LauncherSettings.PatchBaseUrl) + "/Player/" + argv[2];
    PlainDownload(archiveUrl, "bench-archive.zip");
    start = Now();
    long long plainUnpacked = PlainExtract("bench-archive.zip");
    double plainExtract = Now() - start;
    SharedText message;
    start = Now();
    int extracted = ExtractArchive("bench-archive.zip", &message);
    double extractSeconds = Now() - start;
    DeleteFileA("bench-archive.zip");
    std::printf("plain minizip loop:      %8.1f MB/s (%lld bytes in %.2f s)\n", plainUnpacked / mb / plainExtract,
                plainUnpacked, plainExtract);
    std::printf("ExtractArchive:          %8.1f MB/s (%.2f s, %d)\n", plainUnpacked / mb / extractSeconds,
                extractSeconds, extracted);
    std::printf("ExtractArchive / plain:  %8.2f\n", plainExtract / extractSeconds);
    return 0;
}
