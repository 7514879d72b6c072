// The release channel a content launcher follows: chosen at start from the player's
// "--channel NAME", the choice kept from an earlier start, or the build's default.
#pragma once

// Registry value (REG_SZ, under HKEY_LOCAL_MACHINE\kInstallerRegistryKey) of the kept choice.
constexpr const char* kChannelValueName = "ContentChannel";

// Takes "--channel NAME" out of LauncherCommandLine and sets PatchChannel (and
// PatchChannelSwitch when it differs from the channel of the kept files). Does nothing in a
// launcher built without the content mode: the word then stays the game's. Main thread, before
// the patch information is fetched.
void ChooseContentChannel();

// FetchPatchInfo for the chosen channel. A switch that fetches is kept for later starts; one
// that does not (the server has no such channel, or cannot be reached) changes nothing: the
// earlier channel's kept files are loaded again, as after any failed fetch, and 0 is returned
// (RestateRefusedChannel then shows why). Otherwise FetchPatchInfo's result.
int FetchContentChannel();

// Shows the refused switch's text once the start-up road has set its own (nothing when no
// switch was refused at this start).
void RestateRefusedChannel();
