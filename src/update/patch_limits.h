// The limits of the patch information format, shared by the launcher's parser and the
// publishing tool (tools/publish_patch.py, whose test reads them from here).
#pragma once

constexpr int kMaxStepFiles = 16;         // file names on one [PLAYER] line
constexpr int kMaxFileNameLength = 63;    // characters of one file name
constexpr int kMaxLineLength = 1022;      // characters of one line, its line end not counted
constexpr int kMaxVersionTextLength = 31; // characters of an [INSTALLER] or [LAUNCHER] version
