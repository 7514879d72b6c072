// Rules for the relative names the patch server hands us: whether a name stays inside the
// launcher's folder, what an archive entry's name names, and a name's directory part.
#pragma once

#include <cstddef>

// True when name, taken relative to the launcher's folder, can only name something inside
// it. "/" and "\" both separate components. Refused:
//   - an empty name, or one starting with a separator (absolute, "\\server" UNC, "\\?\");
//   - any ':' (drive letters "C:x", alternate data streams "a.txt:s");
//   - an empty component inside the name ("a//b"); one trailing separator is allowed, as
//     directory entries of archives end in one;
//   - a component ending in '.' or ' ' ("..", ".", "...", "a. "): Windows drops those
//     characters, so such a name would not be the one that was checked;
//   - control characters and the characters Windows reserves: < > " | ? *;
//   - device names as a component, with or without an extension (CON, PRN, AUX, NUL,
//     COM1-COM9, LPT1-LPT9, also with the superscripts 1, 2, 3 (CP949 A9 F6-F8), CONIN$,
//     CONOUT$), any letter case: opening them reaches a device.
// Multibyte ANSI names pass: no CP949 trail byte is a separator or a reserved character.
bool IsSafeRelativePath(const char* name);

// What an archive entry's stored name names below the folder (ArchiveEntryPath).
enum EntryPathKind : int {
    kEntryPathRefused = 0,  // it could leave the folder, or is not what it seems
    kEntryPathFolder = 1,   // the folder itself ("./", "./."): nothing to create
    kEntryPathInside = 2,   // dest holds the name to create, IsSafeRelativePath holds for it
};

// An archive entry's stored name as the file name to create. Every unzip tool reads a "."
// component as the folder it stands in (bsdtar, which Windows ships as tar, names its
// entries "./Data/a.bin"), so such components and the separator after each are dropped
// ("./a", "Data/./b", ".\a", "a/./" become "a", "Data/b", "a", "a/"); nothing else changes,
// and the result must then pass IsSafeRelativePath: "..", a leading or doubled separator
// (".//a" leaves "/a") and everything else refused there stay refused. A name that is
// nothing but "." components is the folder itself; an empty name is refused. dest
// (destSize bytes) receives the result, which is never longer than name; a result that
// does not fit is refused. dest is empty unless the result is kEntryPathInside.
EntryPathKind ArchiveEntryPath(const char* name, char* dest, std::size_t destSize);

// Copies path into dest (destSize bytes, cut if longer) and ends the copy at its last
// separator, searching from the last character down to the second one; a separator in the
// first position is never cut. Returns 1 when it cut, 0 when the copy is the whole path.
int DirectoryOfPath(char* dest, std::size_t destSize, const char* path);

// True for a name longer than three characters whose last three are "zip" in any letter
// case, with or without a dot before them: such patch files are unpacked.
bool IsArchiveName(const char* name);
