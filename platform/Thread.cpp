#include "platform/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kLowestNice = 19;

// On Linux a nice value set for a thread id applies to that thread only.
id_t CurrentThreadId()
{
    return static_cast<id_t>(syscall(SYS_gettid));
}

} // namespace

bool SetCurrentThreadIdlePriority()
{
    sched_param parameters {};
    parameters.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters) == 0)
        return true;
    return setpriority(PRIO_PROCESS, CurrentThreadId(), kLowestNice) == 0;
}

bool CurrentThreadHasIdlePriority()
{
    int policy = 0;
    sched_param parameters {};
    if (pthread_getschedparam(pthread_self(), &policy, &parameters) == 0 && policy == SCHED_IDLE)
        return true;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, CurrentThreadId());
    return errno == 0 && nice >= kLowestNice;
}

void ClearUpperVectorState()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        asm volatile("vzeroupper" ::: "memory");
#endif
}
