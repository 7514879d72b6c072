// The staging folders an archive's entries are written in before they take their places.
#pragma once

#include <cstddef>

#include "paths/game_folder_hold_win32.h"

// Name of the staging folder made inside each folder that entries are unpacked into.
constexpr const char* kUnpackStageName = "~unpack";

// One staging folder at a time: "DIR\~unpack" for entries going to DIR ("~unpack" for the
// game folder itself). A file created under a new name costs the system a look through the
// whole folder it goes in (Wine compares every name in it, letter case aside), so thousands of
// entries into one folder cost a little more with each; in a folder of their own they do not.
// The folder sits inside the entry's own folder, so the move out of it never crosses a volume.
// Made when the first entry for its folder comes, removed when the entries move on to another
// folder and when the object goes; one left by a kill or a power cut is empty but for partial
// files nobody holds, which the next use sweeps away.
class UnpackStage {
public:
    UnpackStage() = default;
    ~UnpackStage() { Leave(); }
    UnpackStage(const UnpackStage&) = delete;
    UnpackStage& operator=(const UnpackStage&) = delete;

    // The staging folder for the file name (relative to the working directory), its folder and
    // the name's missing parent folders made as needed; nullptr when there is none to use (a
    // file in its place, a read-only folder, a name that itself passes through a folder of the
    // staging name, a link in its place or above it): the entry is then written beside its
    // file, as a download is.
    const char* For(const char* name);
    // Removes the staging folder in use, if empty.
    void Leave();

private:
    static constexpr std::size_t kFolderSize = 300;
    char folder_[kFolderSize] = {};
    bool usable_ = false;
    // The folder in use and every one above it, held while it is used: never a link.
    GameFolderHold hold_;
};
