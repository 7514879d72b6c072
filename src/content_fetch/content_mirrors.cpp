// The build's content mirrors, from cmake/content.cmake. This file defines nothing else: a test
// build links a copy compiled against other mirrors in its place.
#include "content_fetch/content_mirrors.h"

#include "build_content_mirrors.h"

const char ContentMirrorsBuilt[] = LAUNCHER_CONTENT_MIRRORS;
