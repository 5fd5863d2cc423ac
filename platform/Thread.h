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

// Ends the calling thread's use of the upper halves of the AVX registers (vzeroupper), where the
// processor has them; does nothing elsewhere. A new thread starts with the registers of the
// thread that made it, so a worker made by a thread that left them in use (the window's
// interface thread does) carries that state along: every switch between SSE code (the encoder library) and
// AVX code (the maths library) then costs the processor a transition, and an MP3 encoder's
// setup takes ten times as long. Call it first on a thread that does the heavy work.
void ClearUpperVectorState();
