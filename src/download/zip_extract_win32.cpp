// Zip extraction over minizip's unzip with its Win32 file functions, and directory creation.
#include "download/zip_extract.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/little_endian.h"
#include "common/partial_file_win32.h"
#include "common/win32_handle.h"
#include "download/unpack_stage_win32.h"
#include "paths/game_folder_hold_win32.h"
#include "paths/game_folder_win32.h"
#include "paths/safe_path.h"
#include "iowin32.h"

unsigned char ExtractBuffer[kExtractBufferSize];

namespace {

constexpr std::size_t kEntryNameSize = 256;
constexpr std::size_t kPathSize = 1024;
constexpr int kMaxDirectoryLevels = 16;
constexpr std::size_t kComponentSize = 256;
constexpr const char* kArea = "unpack";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

const char* FilePart(const char* name) {
    const char* part = name;
    for (const char* p = name; *p; ++p)
        if (IsSeparator(*p)) part = p + 1;
    return part;
}

// Closes an archive opened with unzOpen2 on every way out of ExtractArchive.
struct ArchiveTraits {
    using Handle = unzFile;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { unzClose(h); }
};
using Archive = UniqueHandle<ArchiveTraits>;


// True when the file is nothing but a zip end record announcing no entries (the empty
// archive, 22 bytes plus an optional comment). minizip cannot open it: it takes an end record
// found at offset 0 for no record at all.
bool IsEmptyArchive(const char* archive) {
    constexpr std::size_t kEndRecordSize = 22;
    StdioFile file(std::fopen(archive, "rb"));
    if (!file) return false;
    std::size_t size = std::fread(ExtractBuffer, 1, sizeof ExtractBuffer, file.Get());
    if (size < kEndRecordSize || size == sizeof ExtractBuffer) return false;
    const unsigned char* end = ExtractBuffer;
    return LoadLe32(end) == 0x06054b50u && LoadLe16(end + 4) == 0 && LoadLe16(end + 6) == 0 &&
           LoadLe16(end + 8) == 0 && LoadLe16(end + 10) == 0 && LoadLe32(end + 12) == 0 &&
           LoadLe32(end + 16) == 0 && LoadLe16(end + 20) == size - kEndRecordSize;
}

// The open entry's data into output, then output over name. Returns 0 or an ExtractEntry code.
int InflateEntry(unzFile archive, PartialFile& output, const char* name, char* message, std::size_t messageSize) {
    for (;;) {
        const int count = unzReadCurrentFile(archive, ExtractBuffer, sizeof ExtractBuffer);
        if (count < 0) {
            CopyText(message, messageSize, "error in reading zip file");
            return count;
        }
        if (count == 0) break;
        if (!output.Write(ExtractBuffer, static_cast<unsigned long>(count))) {
            FormatText(message, messageSize, "error in writing file %s", name);
            return kEntryWriteFailed;
        }
    }
    // Only the close compares the inflated data with the stored CRC-32: data that inflated
    // without error can still be the wrong data.
    const int closed = unzCloseCurrentFile(archive);
    if (closed != UNZ_OK) {
        CopyText(message, messageSize, "error in reading zip file");
        return closed;
    }
    switch (output.Commit(name)) {
        case kCommitted:
            return 0;
        case kCommitNotOnDisk:
            FormatText(message, messageSize, "error in writing file %s", name);
            return kEntryWriteFailed;
        default:
            FormatText(message, messageSize, "can't create extracted file %s", name);
            return kEntryCreateFailed;
    }
}

// Walks the central directory for an entry stored with a method the library cannot read
// (7-Zip's Deflate64, bzip2, LZMA): it would fail only once reached, after the entries before it
// were installed, so an archive holding one is refused before anything is written. Fills
// name and method with the first such entry's and returns true when there is one; a directory
// that cannot be walked to its end is left to the extraction itself to report. The archive is
// back on its first entry afterwards.
bool FindUnreadableEntry(unzFile zip, uLong entries, char* name, std::size_t nameSize, uLong* method) {
    bool found = false;
    for (uLong i = 0; i < entries && !found; ++i) {
        if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) break;
        unz_file_info info;
        if (unzGetCurrentFileInfo(zip, &info, name, static_cast<uLong>(nameSize), nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        name[nameSize - 1] = '\0';
        found = info.compression_method != 0 && info.compression_method != Z_DEFLATED;
        *method = info.compression_method;
    }
    if (entries > 0) unzGoToFirstFile(zip);
    return found;
}

}  // namespace

int MakeParentDirectories(const char* path) {
    bool hasSeparator = false;
    for (const char* p = path; *p; ++p) hasSeparator = hasSeparator || IsSeparator(*p);
    if (!hasSeparator) return 0;

    char directory[kPathSize];
    DirectoryOfPath(directory, sizeof directory, path);
    for (char* p = directory; *p; ++p)
        if (*p == '\\') *p = '/';

    char components[kMaxDirectoryLevels][kComponentSize];
    int count = 0;
    for (const char* start = directory; count < kMaxDirectoryLevels;) {
        const char* end = std::strchr(start, '/');
        std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
        if (length >= kComponentSize) length = kComponentSize - 1;
        std::memcpy(components[count], start, length);
        components[count][length] = '\0';
        ++count;
        if (!end) break;
        start = end + 1;
    }

    char current[kPathSize];
    DWORD got = GetCurrentDirectoryA(sizeof current, current);
    if (got == 0 || got >= sizeof current) return 0;
    char relative[kPathSize] = "";
    GameFolderHold hold;
    unsigned long error = 0;
    int result = 0;
    for (int i = 0; i < count && components[i][0] != '\0'; ++i) {
        // A level that does not fit the path buffer cannot be created where it belongs.
        if (!AppendText(current, "\\") || !AppendText(current, components[i])) break;
        // The levels above are held and checked first: none may be a link to elsewhere.
        if (i > 0 && (!AppendText(relative, "\\") || !CheckGameName(relative, hold, false, &error))) break;
        wchar_t wide[kPathSize];
        if (!AppendText(relative, components[i]) || !GameNameFromAnsi(relative, wide, kPathSize)) break;
        result = CreateDirectoryW(wide, nullptr) ? 1 : 0;
    }
    return result;
}

bool CreateBeside(PartialFile& file, const char* name, GameFolderHold& hold) {
    unsigned long error = 0;
    if (CheckGameName(name, hold, false, &error) && file.Create(name)) return true;
    // A link is refused as it is; anything else may only lack its folders.
    if (error != kLinkRefused) {
        MakeParentDirectories(name);
        if (CheckGameName(name, hold, false, &error)) {
            if (file.Create(name)) return true;
            error = file.LastError();
        }
    }
    TraceFailure(file.Area(), "create", name, error);
    return false;
}

bool CreateBeside(PartialFile& file, const char* name) {
    GameFolderHold hold;
    return CreateBeside(file, name, hold);
}

namespace {

// Entries up to this size are written in one piece: their partial files are opened
// write-through (PartialFile::Create), larger ones are flushed at the end as a download is.
constexpr uLong kWriteThroughLimit = kExtractBufferSize;

// The partial file for name in the stage's folder, or beside name where there is none or it
// refuses (a full path that no longer fits, for one).
bool CreateStaged(PartialFile& file, const char* name, UnpackStage& stage, bool writeThrough, GameFolderHold& hold) {
    const char* folder = stage.For(name);
    if (folder && file.CreateIn(folder, name, writeThrough)) return true;
    return CreateBeside(file, name, hold);
}

int ExtractStagedEntry(unzFile archive, char* message, std::size_t messageSize, UnpackStage& stage) {
    unz_file_info info;
    char stored[kEntryNameSize];
    int error = unzGetCurrentFileInfo(archive, &info, stored, sizeof stored, nullptr, 0, nullptr, 0);
    if (error != UNZ_OK) {
        CopyText(message, messageSize, "error in getting file info in zip file");
        return error;
    }
    // The library leaves a name of 256 bytes or more without its NUL; such a name cannot be
    // stored whole, so it is refused like any other name that is not what it seems.
    stored[sizeof stored - 1] = '\0';
    char name[kEntryNameSize];
    const EntryPathKind kind =
        info.size_filename >= sizeof stored ? kEntryPathRefused : ArchiveEntryPath(stored, name, sizeof name);
    if (kind == kEntryPathRefused) {
        FormatText(message, messageSize, "refused unsafe entry name %s", stored);
        return kEntryUnsafeName;
    }
    // "./", as bsdtar stores it first: the folder that is being unpacked into.
    if (kind == kEntryPathFolder) {
        FormatText(message, messageSize, "creating directory: %s\n", stored);
        return 0;
    }

    if (FilePart(name)[0] == '\0') {
        FormatText(message, messageSize, "creating directory: %s\n", name);
        MakeParentDirectories(name);
        return 0;
    }

    error = unzOpenCurrentFile(archive);
    if (error != UNZ_OK) {
        FormatText(message, messageSize, "error %d with zipfile in unzOpenCurrentFilePassword\n", error);
        return kEntryOpenFailed;
    }
    // A damaged entry or a full disk leaves the file it was to replace as it was. The folders
    // above it stay held until it is in place (the stage holds them when it is used).
    GameFolderHold hold;
    PartialFile output(kArea);
    if (!CreateStaged(output, name, stage, info.uncompressed_size <= kWriteThroughLimit, hold)) {
        FormatText(message, messageSize, "can't create extracted file %s", name);
        return kEntryCreateFailed;
    }
    FormatText(message, messageSize, "%s", name);
    return InflateEntry(archive, output, name, message, messageSize);
}

}  // namespace

int ExtractEntry(unzFile archive, char* message, std::size_t messageSize) {
    UnpackStage stage;
    return ExtractStagedEntry(archive, message, messageSize, stage);
}

int ExtractArchive(const char* archive, SharedText* message) {
    zlib_filefunc_def fileFunctions;
    fill_win32_filefunc(&fileFunctions);
    Archive zip(unzOpen2(archive, &fileFunctions));
    if (!zip) {
        if (IsEmptyArchive(archive)) return 1;
        message->Format("Extracting %s - error in opening file.", archive);
        return 0;
    }
    unz_global_info global;
    if (unzGetGlobalInfo(zip.Get(), &global) != UNZ_OK) {
        zip.Reset();
        message->Format("Extracting %s - error in getting information", archive);
        return 0;
    }
    char entryMessage[kEntryMessageSize];
    uLong method = 0;
    if (FindUnreadableEntry(zip.Get(), global.number_entry, entryMessage, kEntryNameSize, &method)) {
        zip.Reset();
        message->Format("Extracting %s - unsupported compression method %lu (%s)", archive,
                        static_cast<unsigned long>(method), entryMessage);
        return 0;
    }
    // Left (its folder removed) on every way out, before the archive is closed.
    UnpackStage stage;
    for (uLong i = 0; i < global.number_entry; ++i) {
        if (i > 0 && unzGoToNextFile(zip.Get()) != UNZ_OK) {
            zip.Reset();
            message->Format("Extracting %s - error while getting next file in", archive);
            return 0;
        }
        message->Format("Extracting %s - ", archive);
        entryMessage[0] = '\0';
        int result = ExtractStagedEntry(zip.Get(), entryMessage, sizeof entryMessage, stage);
        message->Append(entryMessage);
        if (result != 0) return 0;
    }
    return 1;
}
