// Whether this launcher was built with the content mode (LAUNCHER_CONTENT_PATCHING), and the
// mode's own branding value.
#pragma once

// 1 in a launcher built with the content mode (which also carries a signing key); 0 otherwise,
// and such a launcher never asks for a release manifest.
extern const int ContentPatchingBuilt;

// LAUNCHER_CONTENT_MIRRORS: the bases chunks are fetched from before the patch base, separated
// by spaces ("" without mirrors). Read by mirror_list.cpp's parser.
extern const char ContentMirrorsBuilt[];
