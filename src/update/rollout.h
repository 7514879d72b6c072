// A staged rollout: the channel's newest release offered to a fraction of installs, the others
// held on the release before it. The patch information names it in a section of its own ahead
// of [INSTALLER], where a launcher without the content mode reads nothing:
//     [ROLLOUT]
//     10003 25
// (release 10003 to 25 of every 100 installs). Each install draws its bucket, 0 to 99, once.
#pragma once

#include <cstdint>

constexpr uint32_t kRolloutBuckets = 100;

struct RolloutState {
    int32_t Version = 0;   // the release rolled out; 0 when the file names no rollout
    int32_t Percent = 0;   // 0 (halted) to 100
    int32_t Previous = 0;  // the highest [PLAYER] release below Version, 0 when none
};

// Reads path's [ROLLOUT] section (only ahead of the first other section) and, for its release,
// the highest [PLAYER] release below it. 1 when the file was read (a rollout or none), 0 when
// it could not be opened. A section that is not one line of a release and a percentage from
// 0 to 100 is no rollout.
int ReadRollout(const char* path, RolloutState* out);

// The release an install in bucket goes to, newest being the channel's newest release and
// current the installed one: the rolled-out release for the buckets below its percentage, for
// an install already on it, and when it is not the newest; otherwise the release before it,
// or the installed one when that is between them (an install never goes back).
int32_t RolloutTarget(const RolloutState& rollout, int32_t newest, uint32_t bucket, int32_t current);

// Makes target the newest release of the parsed patch information: the [PLAYER] steps past
// it are dropped, and the version comparisons that follow see target as the newest.
void HoldBackTo(int32_t target);
