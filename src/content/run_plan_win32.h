// The plan step of a content run: the chunks an earlier run left in content.cache, the deltas
// whose base the survey found in place, and the plan made of them (content_plan/content_plan.h).
#pragma once

#include "content/content_survey_win32.h"
#include "content/run_parts.h"
#include "content_plan/content_plan.h"

// Sizes index->FrameAt, notes index->Held and index->Keep from the cache an earlier run left
// (none: nothing held), then makes *plan. 1, or 0 when out of memory or the plan cannot be made.
int PlanRun(const NewRelease& release, const FolderSurvey& survey, CacheIndex* index, ContentPlan* plan);
