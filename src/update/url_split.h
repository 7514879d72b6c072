// Splitting a URL into its host text and its path, walking the text character by character.
#pragma once

#include <cstddef>

// Moves from one character of an ANSI text to the next; at the terminating NUL it returns the
// position it was given.
using CharStepFunction = const char* (*)(const char* position);

// The system's step for its ANSI code page: CharNextA on Windows; natively the CP949 rule.
const char* NextAnsiChar(const char* position);

// The CP949 step without the system: a lead byte (0x81 to 0xFE) followed by any byte but NUL
// makes one double-byte character, as CharNextA treats it in code page 949.
const char* NextCp949Char(const char* position);

// The first position in text whose character is the single byte sought, walking with step so
// that the trail byte of a double-byte character never matches. Null when the character does
// not occur before the terminating NUL (sought == '\0' therefore never matches).
const char* FindCharInTextWith(const char* text, char sought, CharStepFunction step);

// FindCharInTextWith with the system's step.
const char* FindCharInText(const char* text, char sought);

// The first "/" after the first "." of url (searched from the start when there is no "."),
// or null. It lies at the end of the host name whenever the URL's first "." is in the host.
const char* FindUrlPath(const char* url);

// Splits url. The host text starts two characters after the first "/" (past the slashes that
// follow the scheme) and runs up to the next "/" or the end; a port written in the URL stays
// in it. *host receives a zero-filled copy allocated with std::calloc (length plus two bytes),
// which the caller releases with std::free. *path points into url at that "/" (path and
// query together), or is null when the URL has no path. For every URL whose first "." lies in
// the host name the path is FindUrlPath(url); a host without "." ("127.0.0.1" has one,
// "localhost" has none) is still split at its own end.
// Returns 0 on success; 1 when url holds no "/" or the copy could not be allocated, and then
// *host and *path are null.
int SplitUrl(const char* url, char** host, const char** path);

// Separates "name[:port]" (or "[v6-address][:port]") into name and port. Without a port, or
// with an empty one, *port is defaultPort. Returns 1, or 0 when the name does not fit in
// nameSize bytes or the port is not a decimal number from 1 to 65535.
int SplitHostPort(const char* hostText, unsigned defaultPort, char* name, std::size_t nameSize,
                  unsigned* port);
