// What the content engine tells of a run as it goes: the stage and its bytes, the file being
// built, a retry's countdown, a file another program holds, why a run stopped, its end. The
// engine never draws: one presenter (content_presenter_win32.h) turns the reports into the
// status line, the bars and the start button, and a test reads them as they come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "content_fetch/fetch_watch.h"

enum ContentStage : int {
    kStageChecking = 0,     // the release is checked against the folder
    kStageVerifying = 1,    // every local file is hashed (a verify): Done/ToDo bytes, FilesDone/Files
    kStageFetching = 2,     // the plan's requests: Done/ToDo bytes, Rate and SecondsLeft
    kStageFetchingDelta = 3,  // the deltas: Done/ToDo bytes of all, PartDone/PartSize of this one
    kStageBuilding = 4,       // a file from its chunks: Done/ToDo bytes built, PartDone/PartSize of
                              // this file, FilesDone/Files, Name
    kStageBuildingDelta = 5,  // a file from its delta: as kStageBuilding
};

// What a report may change: the line and the bars, only the bars (the line belongs to a
// countdown or to a failure meanwhile), or only the line (a file begins: the bars stay).
enum ContentShow : int { kShowAll = 0, kShowBars = 1, kShowLine = 2 };

struct ContentProgress {
    ContentStage Stage = kStageChecking;
    ContentShow Show = kShowAll;
    uint64_t Done = 0;
    uint64_t ToDo = 0;
    uint64_t PartDone = 0;
    uint64_t PartSize = 0;
    uint32_t FilesDone = 0;
    uint32_t Files = 0;
    uint64_t Rate = 0;          // bytes a second over the last seconds; 0 when not yet known
    uint32_t SecondsLeft = 0;   // at Rate; meaningful only when Rate is not 0
    const char* Name = nullptr;  // NameLength bytes of UTF-8, the release path being built
    std::size_t NameLength = 0;
};

// Why a run stopped; the start button stays disabled whatever the reason.
enum ContentStopKind : int {
    kStopQuiet = 0,        // nothing to add: the line keeps what it says
    kStopRelease = 1,      // the release could not be checked (Name: its path)
    kStopFetch = 2,        // a request failed for good (Name: the file, or "session", "thread")
    kStopUnavailable = 3,  // the server refused a file of release Release (Name: the file)
    kStopFile = 4,         // a file could not be built or kept (Name: its release path)
    kStopDiskFull = 5,     // NeededBytes checked before fetching, FreeBytes free now
    kStopLink = 6,         // a path of either release passes through a link (Name: the path)
    kStopTooLarge = 7,     // the release's counts need more memory than this build may take (Name: the release)
    kStopMemory = 8,       // an allocation failed all the same (Name: the release)
};

struct ContentStop {
    ContentStopKind Kind = kStopQuiet;
    const char* Name = nullptr;  // NameLength bytes (UTF-8 for a release path)
    std::size_t NameLength = 0;
    uint32_t Release = 0;
    uint64_t NeededBytes = 0;
    uint64_t FreeBytes = 0;
};

// A stop of kind naming length bytes at name, or the C string name.
inline ContentStop NamedStop(ContentStopKind kind, const char* name, std::size_t length) {
    ContentStop stop;
    stop.Kind = kind;
    stop.Name = name;
    stop.NameLength = length;
    return stop;
}
inline ContentStop NamedStop(ContentStopKind kind, const char* name) {
    return NamedStop(kind, name, std::strlen(name));
}

class ContentReport : public FetchWatch {
public:
    // The run begins: the game may not start until it ends well.
    virtual void Began() = 0;
    virtual void Progress(const ContentProgress& progress) = 0;
    // Another program holds the file at path (length bytes of UTF-8): the worker waits for it.
    virtual void HeldWaitBegins(const char* path, std::size_t length) = 0;
    // Still held: told before each try.
    virtual void HeldWaiting(const char* path, std::size_t length) = 0;
    // The wait begun above is over: resumed non-zero when the file was placed or deleted.
    virtual void HeldWaitOver(int resumed) = 0;
    virtual void Stopped(const ContentStop& stop) = 0;
    // Every file is in place and the record names release; a verify says how many files it
    // mended (or fetched, when missing).
    virtual void Finished(uint32_t release, int verify, uint32_t repaired) = 0;

protected:
    ~ContentReport() = default;
};
