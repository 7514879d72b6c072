// The content worker's look at the folder before an update (content_survey_win32.cpp).
#pragma once

#include <cstdint>
#include <memory>

struct ContentRun;

// Reads a whole small file (the kept state or manifest) of at most limit bytes. 1, or 0.
int ReadWholeFile(const wchar_t* name, uint64_t limit, std::unique_ptr<uint8_t[]>* out, std::size_t* length);

// Loads the kept state and manifest when they describe each other, flags the old files their
// stamps vouch for, and cuts every other local file of either release. Always 1 for now: a
// file that cannot be read is simply not a source.
int SurveyFolder(ContentRun& run);
