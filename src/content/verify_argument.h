// The launcher's own argument of the content mode: "--verify" asks for every installed file to
// be hashed and mended. It is the launcher's, never the game's.
#pragma once

// The argument as the player types it; only a whole unquoted word counts ("--verify=x",
// "--verifyx" and "\"--verify\"" stay the game's).
constexpr char kVerifyArgument[] = "--verify";

// Removes every "--verify" word from the NUL-terminated commandLine in place, with the blanks
// that led to it (or followed it, for a first word), so the rest reaches the game byte for byte
// as it came. 1 when there was one, 0 otherwise (commandLine untouched). Quotes are followed
// as the C runtime splits arguments: a word inside quotes is never taken.
int TakeVerifyArgument(char* commandLine);
