// Ctrl-C for varkonel-convert. The first SIGINT (or SIGTERM) only marks the run as interrupted
// and wakes the main loop through a pipe; the main loop then stops the jobs. A second one ends
// the process at once. The handler does nothing else: an atomic counter and a write().
//
// Only one watch exists at a time (the handler is process-wide).
#pragma once

#include <signal.h>

class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool Interrupted() const;
    // Waits until an interrupt, a Wake or the end of `milliseconds`, whichever comes first.
    void WaitFor(int milliseconds);
    // Ends a WaitFor early; safe from any thread.
    void Wake();

    // Keeps the interrupt signals away from the calling thread while it lives, so that threads
    // started meanwhile (which inherit the mask) never take them: they reach the main loop.
    class Shield {
    public:
        Shield();
        ~Shield();
        Shield(const Shield&) = delete;
        Shield& operator=(const Shield&) = delete;

    private:
        sigset_t previous;
    };

private:
    struct sigaction previousInt { };
    struct sigaction previousTerm { };
};
