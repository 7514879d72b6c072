// Unpacking of patch archives (zip, stored or deflated) into the working directory, and the
// creation of the directories a relative file name needs.
#pragma once

#include <cstddef>

#include "common/shared_text.h"
#include "unzip.h"

constexpr std::size_t kExtractBufferSize = 65536;
// Receives the inflated data of every entry; used by the download worker's thread only.
extern unsigned char ExtractBuffer[kExtractBufferSize];

// ExtractEntry's results besides 0 (unpacked) and the unzip library's own negative codes.
constexpr int kEntryWriteFailed = -1;     // the output file could not be written or closed
constexpr int kEntryOpenFailed = -200;    // the entry's data could not be opened
constexpr int kEntryCreateFailed = -201;  // the output file could not be created
constexpr int kEntryUnsafeName = -202;    // the name would leave the folder; nothing written

// Size of the per-entry message that ExtractEntry fills.
constexpr std::size_t kEntryMessageSize = SharedText::kSize;

// Unpacks every entry of the archive into the working directory, keeping stored paths and
// overwriting existing files, read-only ones included. Each entry is written in the staging
// folder "~unpack" inside the folder it goes to (UnpackStage), flushed, and moved out over its
// file before the next entry starts; no staging folder is left afterwards. message is rewritten as it goes:
// "Extracting <archive> - " and the entry's message, or one of the archive-level failure
// texts. Returns 1 when every entry was unpacked (an empty archive leaves message as it
// was), 0 otherwise; entries unpacked before a failure stay. An archive holding an entry
// stored with a method other than stored or deflate is refused before anything is written
// ("unsupported compression method %lu (name)"). The archive is closed on every path, so
// the caller may delete it afterwards.
int ExtractArchive(const char* archive, SharedText* message);

// Unpacks the archive's current entry; fills message (messageSize bytes) with the entry name
// on success or with the failure text. The stored name goes through ArchiveEntryPath: "."
// components are dropped ("./Data/a.bin" is Data/a.bin, "./" the folder itself, left as it
// is), and a name it refuses is kEntryUnsafeName. Returns 0 or one of the negative codes above. The
// entry is inflated in a staging folder inside its file's folder, or beside its file where
// there is none (a PartialFile), and takes its place only once whole, on
// disk, and matching its stored CRC-32; an entry that does not match is damaged data
// ("error in reading zip file", UNZ_CRCERROR) and leaves the old file as it was.
int ExtractEntry(unzFile archive, char* message, std::size_t messageSize);

// Creates, below the working directory, each directory level of path's directory part
// ("Data/Maps/a.bin" gives Data, then Data\Maps; a name ending in a separator is all
// directory). At most 16 levels; creation stops at an empty component, and at a level that is
// a link or leads out of the game folder. Levels that exist already are passed over. Returns the last CreateDirectoryA result: non-zero when that
// level was created, 0 when it existed or nothing was attempted.
int MakeParentDirectories(const char* path);

class PartialFile;
class GameFolderHold;
// Creates file beside name (PartialFile::Create); when that fails, creates name's directories
// with MakeParentDirectories and tries once more. A final failure goes to the debugger output.
// The folders above name are held in hold (the caller keeps it until the file is committed),
// and a link among them, or in name itself, refuses.
bool CreateBeside(PartialFile& file, const char* name, GameFolderHold& hold);
bool CreateBeside(PartialFile& file, const char* name);
