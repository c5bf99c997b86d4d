// Raising a time-critical thread (a port's monitor, the protocol thread) above
// the others: a short wake-up latency keeps the protocol's fixed pauses short on
// a busy machine.
#pragma once

#include <initializer_list>

// Asks for a real-time priority (SCHED_FIFO) for the calling thread; failing
// that tries each nice value in turn; stays as it is when nothing is allowed.
// Such threads sleep or wait nearly all the time and never spin. The real-time
// threads of the process share one processor (the first one's), so that their
// hand-offs stay on it.
void RaiseThreadPriority(std::initializer_list<int> niceValues);
