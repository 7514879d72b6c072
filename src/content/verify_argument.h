// The launcher's own arguments of the content mode: "--verify" asks for every installed file to
// be hashed and mended, "--channel NAME" for a release channel. They are the launcher's, never
// the game's.
#pragma once

#include <cstddef>

#include "update/patch_channel.h"

// The argument as the player types it; only a whole unquoted word counts ("--verify=x",
// "--verifyx" and "\"--verify\"" stay the game's).
constexpr char kVerifyArgument[] = "--verify";

// Removes every "--verify" word from the NUL-terminated commandLine in place, with the blanks
// that led to it (or followed it, for a first word), so the rest reaches the game byte for byte
// as it came. 1 when there was one, 0 otherwise (commandLine untouched). Quotes are followed
// as the C runtime splits arguments: a word inside quotes is never taken.
int TakeVerifyArgument(char* commandLine);

constexpr char kChannelArgument[] = "--channel";
// Room for the longest value a channel argument is looked at with: one byte past a name, so a
// longer word is told from a name it starts with.
constexpr std::size_t kChannelArgumentValueSize = kChannelNameSize + 1;

// Removes every unquoted "--channel" word and the word after it (as TakeVerifyArgument removes
// its word). Returns 1 with the last one's value in name (size bytes) when that is a channel
// name (IsChannelName), -1 when it is not one (missing, quoted, too long or of other
// characters; name is then ""), 0 when there was none (commandLine untouched).
int TakeChannelArgument(char* commandLine, char* name, std::size_t size);
