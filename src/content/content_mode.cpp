// The build's choice of the content mode, from cmake/content.cmake. This file defines nothing
// else: a test build links a copy compiled with the mode on in its place.
#include "content/content_mode.h"

#ifndef LAUNCHER_CONTENT_PATCHING
#error "LAUNCHER_CONTENT_PATCHING is defined by the build (cmake/content.cmake)"
#endif

const int ContentPatchingBuilt = LAUNCHER_CONTENT_PATCHING ? 1 : 0;
