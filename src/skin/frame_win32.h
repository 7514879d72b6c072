// One frame of the window: composed from the skin (skin_win32.h) and the display state into the
// back buffer, then presented on the screen. Window thread only.
#pragma once

// Draws a frame into BackBuffer when the display state changed since the last one; true
// when a new frame is ready. A frame that could not be drawn (no drawing context) returns
// false and is drawn at the next call.
bool ComposeFrame();
// Shows BackBuffer in MainWindow; a layered window that already shows this frame at this
// place is not handed it again.
void PresentFrame();
// Shows BackBuffer even when the window was handed this frame already: after a paint request
// or a display change the system may no longer show it.
void PresentFrameAgain();

// Forgets the last-drawn record so the next ComposeFrame draws (tests, and a re-created buffer).
void ResetDrawnRecord();
