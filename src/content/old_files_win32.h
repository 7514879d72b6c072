// The delete step of a content run: the installed release's files the new one no longer lists.
#pragma once

#include "content/content_report.h"
#include "content_format/content_release.h"
#include "content_plan/content_plan.h"

// Deletes the plan's deletions of oldRelease marked BeforeBuilding (beforeBuilding non-zero)
// or the others. A file another program holds is waited for once; should the wait run out,
// the files after it get one try each, and what stays behind blocks nothing: the new release
// does not list it. Never the running program's own file.
void DeleteOldFiles(const ReleaseManifest& oldRelease, const ContentPlan& plan, int beforeBuilding,
                    ContentReport& report);
