#pragma once

#include <QString>

// libmpv is opened at run time rather than linked: with it come some two hundred libraries
// (every codec, filter and output FFmpeg and mpv know), and linking them makes the program's
// start wait for all of them, before the first line of main() runs. Opened on a thread of its
// own while the windows are built, they cost the start nothing it would notice.
//
// The functions of <mpv/client.h> and <mpv/render.h> that the engine calls are defined in
// mpvlibrary.cpp and forward to the library once it is open.

// Starts opening libmpv on a thread of its own; does nothing once it has started.
void startLoadingMpvLibrary();

// Waits until libmpv is open (opening it now if nobody asked before). Empty when every function
// the engine calls is there, else what is missing, for the learner.
QString waitForMpvLibrary();
