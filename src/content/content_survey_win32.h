// The survey step of a content run: what the game folder holds before an update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "content/content_report.h"
#include "content/run_parts.h"
#include "content_format/content_release.h"
#include "content_format/local_state.h"
#include "content_plan/content_plan.h"

struct FolderSurvey {
    std::unique_ptr<uint8_t[]> OldBytes;    // the kept manifest of the installed release
    std::unique_ptr<uint8_t[]> StateBytes;  // content.state
    ReleaseManifest OldRelease;             // empty when nothing is known of the installed one
    ContentState State;
    bool HaveOld = false;
    std::vector<uint8_t> Vouched;  // per old file: its stamp vouches for it
    std::vector<std::string> CutPaths;  // per cut file
    std::vector<std::vector<ContentCutChunk>> CutChunks;
    std::vector<ContentCutFile> CutFiles;  // the plan's view of the two above
    // Per new file: the stamp the survey found at its path (the kept one for a vouched file),
    // LastWrite 0 where it found nothing; a file left whole keeps it, unread and unlooked-at.
    std::vector<ContentFileStamp> Found;
};

// Reads a whole small file (the kept state or manifest) of at most limit bytes. 1, or 0.
int ReadWholeFile(const wchar_t* name, uint64_t limit, std::unique_ptr<uint8_t[]>* out, std::size_t* length);

// Loads the kept state and manifest when they describe each other, flags the old files their
// stamps vouch for (none in a verify, which reports its progress as it hashes), and cuts every
// other local file of either release. A file that cannot be read is simply not a source; a
// path of either release that passes through a link (or leads out of the game folder) stops the
// run before anything is read: reported as kStopLink naming it, and 0.
int SurveyFolder(const NewRelease& release, bool verify, ContentReport& report, FolderSurvey* survey);
