// The content mirrors the launcher was built with (LAUNCHER_CONTENT_MIRRORS).
#pragma once

// The bases chunks are fetched from before the patch base, separated by spaces ("" without
// mirrors). Read by mirror_list.cpp's parser.
extern const char ContentMirrorsBuilt[];
