// The content mode's road at start-up, taken after the installer and launcher decisions.
#pragma once

// In a launcher built with the content mode: when the newest version is not the installed one
// (in any series, or with no client at all), starts the content worker and returns true. False
// otherwise, and always in a launcher built without the mode, which goes on as before.
bool TakeContentRoad();
