// The supervisor's waits: the application thread handles its events as they
// come (the relay slots, the process's end, controls) and looks at what it
// waits for after each batch, never sleeping past an event. A wait blocks at
// most one pass before it looks again, and its time limit is counted on the
// clock, however many passes it took.
#pragma once

#include <functional>

// Handles events until done() holds (true) or limitMs has passed (false; a
// negative limit never passes). done() is asked first, before any event.
bool handleEventsUntil(const std::function<bool()>& done, int passMs, long long limitMs);

// Handles events for the whole of durationMs.
void handleEventsFor(int passMs, long long durationMs);
