#pragma once

// A desktop session that ends, or a plain `kill`, sends SIGTERM (or SIGINT from a terminal).
// The windows are then closed as if the learner had closed them, so the place in the
// lesson and the working directory are saved before the program ends.
void closeWindowsOnTerminationSignals();
