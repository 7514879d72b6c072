// Whether this launcher was built with the content mode (LAUNCHER_CONTENT_PATCHING).
#pragma once

// 1 in a launcher built with the content mode (which also carries a signing key); 0 otherwise,
// and such a launcher never asks for a release manifest.
extern const int ContentPatchingBuilt;
