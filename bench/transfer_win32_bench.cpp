// Prints, from alternating runs under the same Wine: DownloadFile against the plainest WinInet
// download of the same URL (same flags, 32 KB reads); DownloadFile checked against a verified
// manifest (as in a launcher with a signing key) against DownloadFile unchecked; and
// ExtractArchive against the plainest minizip loop over each archive; min, median and max of
// each side and of their ratio. The launcher puts every file on disk before it takes its
// place, so each plain side is also run with a flush of every file before its close: that pair
// prints what the flush costs.
//   transfer_win32_bench FILE_NAME ARCHIVE_NAME [ARCHIVE_NAME...] [--rounds N (at least 5)]
//                        [--paced PACED_FILE_NAME]
//   transfer_win32_bench --unpack ARCHIVE [ARCHIVE...]   (times ExtractArchive alone, each once)
//   transfer_win32_bench --extract ARCHIVE [ARCHIVE...] [--rounds N]   (the unpacking figures alone,
//                        on archives already on disk: no server)
// The names are relative to PatchBaseUrl + "/Player/" on the server, which the build bakes in;
// PACED_FILE_NAME is a file the server sends at a limited rate, for the verification figures.
#include <windows.h>
#include <wininet.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "common/display_state.h"
#include "download/file_downloader.h"
#include "download/zip_extract.h"
#include "iowin32.h"
#include "settings/launcher_settings.h"
#include "unzip.h"
#include "update/signature_win32.h"
#include "update/signed_patch_info.h"

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

// Puts a written stream's bytes on disk, as the launcher does before a file takes its place.
void Flush(FILE* out) {
    std::fflush(out);
    FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out))));
}

// The plainest download: one handle, the same flags, 32 KB reads, fwrite.
long long PlainDownload(const std::string& url, const char* target, bool flush) {
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
    if (out && flush) Flush(out);
    if (out) std::fclose(out);
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    return total;
}

// The plainest minizip loop: every entry to a flat file named after it, 64 KB reads.
long long PlainExtract(const char* archive, bool flush) {
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
        if (out && flush) Flush(out);
        if (out) std::fclose(out);
        unzCloseCurrentFile(zip);
    }
    unzClose(zip);
    return total;
}

double Speed(long long bytes, double seconds) { return seconds > 0 ? bytes / (1024.0 * 1024.0) / seconds : 0; }

// Lists the file (fetched once with the plain loop) in VerifiedManifest as Player/name.
bool ListInManifest(const std::string& url, const char* name) {
    PlainDownload(url, "bench-listed.bin", false);
    uint64_t size = 0;
    uint8_t digest[kSha256Size];
    const bool hashed = HashFile("bench-listed.bin", &size, digest) != 0;
    DeleteFileA("bench-listed.bin");
    if (!hashed) return false;
    std::string text = std::string(kManifestFormatLine) + "\nsequence 1\nfile Player/" + name + " " +
                       std::to_string(size) + " ";
    char hex[3];
    for (uint8_t byte : digest) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    text += "\n";
    return ParseManifest(text.data(), text.size(), &VerifiedManifest) != 0;
}

// SHA-256 over 64 MiB in 32 KB pieces, as DownloadFile feeds it.
double HashSpeed() {
    static unsigned char piece[32768];
    const double start = Now();
    Sha256Stream stream;
    for (int i = 0; i < 2048; ++i) stream.Update(piece, sizeof piece);
    uint8_t digest[kSha256Size];
    stream.Finish(digest);
    return Speed(64LL * 1024 * 1024, Now() - start);
}

// How a launcher with a signing key downloads the file: DownloadFile with the file listed in
// VerifiedManifest and ManifestRequired set, against DownloadFile without, alternately.
// The bench's working directory is its own, so a name's folders are made and left there.
bool CompareVerification(const char* name, int rounds, const char* label) {
    const std::string url = std::string(LauncherSettings.PatchBaseUrl) + "/Player/" + name;
    if (!ListInManifest(url, name)) {
        std::printf("could not list %s in a manifest\n", name);
        return false;
    }
    auto download = [name] {
        const double start = Now();
        const int done = DownloadFile(name, "/Player/");
        const double seconds = Now() - start - kSettlePauseMs / 1000.0;
        const long long bytes = done ? FileSize(name) : 0;
        DeleteFileA(name);
        return Speed(bytes, seconds);
    };
    auto verified = [&] {
        ManifestRequired = 1;
        const double speed = download();
        ManifestRequired = 0;
        return speed;
    };
    const std::string a = std::string("DownloadFile, ") + label + "verified (MB/s):";
    const std::string b = std::string("DownloadFile, ") + label + "unverified (MB/s):";
    const std::string ratio = std::string(label) + "verified / unverified:";
    Alternate(rounds, a.c_str(), verified, b.c_str(), download, "", ratio.c_str());
    return true;
}

// One archive: fetched once with the plain loop (or copied, from a path on disk), then unpacked
// in turns.
void CompareExtraction(const char* name, int rounds, bool local = false) {
    if (local) {
        CopyFileA(name, "bench-archive.zip", FALSE);
    } else {
        std::string archiveUrl = std::string(LauncherSettings.PatchBaseUrl) + "/Player/" + name;
        PlainDownload(archiveUrl, "bench-archive.zip", false);
    }
    long long unpacked = PlainExtract("bench-archive.zip", false);
    std::printf("archive %s: %.1f MB unpacked\n", name, unpacked / (1024.0 * 1024.0));
    auto plain = [unpacked](bool flush) {
        double start = Now();
        PlainExtract("bench-archive.zip", flush);
        return Speed(unpacked, Now() - start);
    };
    auto launcherExtract = [unpacked] {
        SharedText message;
        double start = Now();
        ExtractArchive("bench-archive.zip", &message);
        return Speed(unpacked, Now() - start);
    };
    Alternate(rounds, "ExtractArchive (MB/s):", launcherExtract, "plain minizip loop (MB/s):", [&] { return plain(false); },
              "", "ExtractArchive / plain:");
    Alternate(rounds, "plain loop, entries flushed (MB/s):", [&] { return plain(true); },
              "plain minizip loop (MB/s):", [&] { return plain(false); }, "", "flushed / not flushed:");
    DeleteFileA("bench-archive.zip");
}

}  // namespace

// The local unpacking of archives already on disk, in the order given, into the working
// directory: what the link benchmark's floor counts for the unpacking the launcher must do.
int UnpackOnly(int count, char** names) {
    for (int i = 0; i < count; ++i) {
        SharedText message;
        const double start = Now();
        const int done = ExtractArchive(names[i], &message);
        std::printf("unpack %s %.6f %s\n", names[i], Now() - start, done ? "ok" : "failed");
        if (!done) return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--unpack") == 0) return UnpackOnly(argc - 2, argv + 2);
    const bool extractOnly = argc > 1 && std::strcmp(argv[1], "--extract") == 0;
    int rounds = 5;
    const char* paced = nullptr;
    std::vector<const char*> names;
    for (int i = extractOnly ? 2 : 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(5, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--paced") == 0 && i + 1 < argc) paced = argv[++i];
        else names.push_back(argv[i]);
    }
    if (extractOnly) {
        std::printf("architecture: %s\n", sizeof(void*) == 8 ? "x86_64" : "i686");
        for (const char* archive : names) CompareExtraction(archive, rounds, true);
        return 0;
    }
    if (names.size() < 2) {
        std::fprintf(stderr, "usage: transfer_win32_bench FILE_NAME ARCHIVE_NAME [ARCHIVE_NAME...] [--rounds N] [--paced NAME]\n");
        return 2;
    }
    const char* name = names[0];
    std::string url = std::string(LauncherSettings.PatchBaseUrl) + "/Player/" + name;
    std::printf("architecture: %s\n", sizeof(void*) == 8 ? "x86_64" : "i686");

    auto plainDownload = [&](bool flush) {
        double start = Now();
        long long bytes = PlainDownload(url, "plain-download.bin", flush);
        double seconds = Now() - start;
        DeleteFileA("plain-download.bin");
        return Speed(bytes, seconds);
    };
    auto launcherDownload = [&] {
        double start = Now();
        DownloadFile(name, "/Player/");
        // DownloadFile ends every file with a fixed settle pause that is not transfer time.
        double seconds = Now() - start - kSettlePauseMs / 1000.0;
        long long bytes = FileSize(name);
        DeleteFileA(name);
        return Speed(bytes, seconds);
    };
    Alternate(rounds, "DownloadFile (MB/s):", launcherDownload, "plain WinInet download (MB/s):",
              [&] { return plainDownload(false); }, "", "DownloadFile / plain:");
    Alternate(rounds, "plain download, flushed (MB/s):", [&] { return plainDownload(true); },
              "plain WinInet download (MB/s):", [&] { return plainDownload(false); }, "", "flushed / not flushed:");

    // Hashing while downloading, on the same file in the same run: as fast as the loopback
    // goes, and paced by the server as a player's line would be; and the hash alone.
    std::printf("SHA-256 through BCrypt alone: %.1f MB/s\n", HashSpeed());
    if (!CompareVerification(name, rounds, "")) return 1;
    if (paced && !CompareVerification(paced, rounds, "paced, ")) return 1;

    for (std::size_t i = 1; i < names.size(); ++i) CompareExtraction(names[i], rounds);
    return 0;
}
