#include "cli/InterruptWatch.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<int> interrupts {0};
int wakeRead = -1;
int wakeWrite = -1;

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free counter");

void OnInterrupt(int)
{
    if (interrupts.fetch_add(1) >= 1)
        _exit(130); // the second one: stop now
    const int saved = errno;
    const char mark = 'i';
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &mark, 1);
    errno = saved;
}

void Drain()
{
    char sink[64];
    while (read(wakeRead, sink, sizeof sink) > 0) { }
}

} // namespace

InterruptWatch::InterruptWatch()
{
    interrupts.store(0);
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = ends[0];
        wakeWrite = ends[1];
    }
    struct sigaction action { };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a terminal question in progress ends at once
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptWatch::~InterruptWatch()
{
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    close(wakeRead);
    close(wakeWrite);
    wakeRead = wakeWrite = -1;
}

bool InterruptWatch::Interrupted() const
{
    return interrupts.load() > 0;
}

void InterruptWatch::WaitFor(int milliseconds)
{
    if (wakeRead < 0) {
        usleep(static_cast<useconds_t>(milliseconds) * 1000);
        return;
    }
    pollfd wait {wakeRead, POLLIN, 0};
    poll(&wait, 1, milliseconds);
    Drain();
}

void InterruptWatch::Wake()
{
    const char mark = 'w';
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &mark, 1);
}

InterruptWatch::Shield::Shield()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
}

InterruptWatch::Shield::~Shield()
{
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}
