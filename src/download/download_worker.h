// The background thread that applies the pending patch steps.
#pragma once

// Thread routine (for _beginthreadex; the argument is ignored). Downloads every file of every
// step of PatchList through DownloadFile, records CurrentVersion in the version record after
// each completed step, then shows MsgReady with the version, fills both bars, enables the
// start button and sets LaunchReady. Returns 1 when every step was applied; 0 as soon as a
// file fails, leaving the status text, bars and start button as DownloadFile left them.
// Reads PatchList and PatchFileTotal, which must not change while it runs.
unsigned __stdcall DownloadWorker(void* unused);
