// Scheduling of the calling thread. A conversion started from the window runs its worker at
// the lowest priority the system offers, so that the window and its progress display keep the
// processor when both compete.
#pragma once

// Moves the calling thread to the idle scheduling class (SCHED_IDLE); where the system refuses
// that, to the lowest nice value (19) instead. False when neither could be done: the thread
// then keeps the priority it had.
bool SetCurrentThreadIdlePriority();

// Whether the calling thread runs in the idle class or at the lowest nice value.
bool CurrentThreadHasIdlePriority();
