// The ANSI character step of native builds: the launcher's texts are CP949.
#include "update/url_split.h"

const char* NextAnsiChar(const char* position) { return NextCp949Char(position); }
