#pragma once

#include <functional>

// A desktop session that ends, or a plain `kill`, sends SIGTERM (or SIGINT from a terminal).
// The first one runs stop from the event loop, so that the program can end tidily; a second
// one ends the process at once, for whoever will not wait for that. With a grace period, the
// process also ends that long after the first signal when stop has not ended it by then (the
// event loop may be stuck in a read that never returns).
void onTerminationSignals(std::function<void()> stop, int graceMs = -1);

// The windows are closed as if the learner had closed them, so the place in the lesson and
// the working directory are saved, and a running export stopped, before the program ends;
// within a second in any case.
void closeWindowsOnTerminationSignals();
