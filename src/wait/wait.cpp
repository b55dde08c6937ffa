// What the waits of both platforms share: the calling thread's watch.
#include "wait/watch.h"

thread_local ThreadWatch t_watch;

void SetThreadWatch(Waitable w, int (*fired)(Waitable)) {
    t_watch.w = w;
    t_watch.fired = fired;
}

int TakeThreadWatch() {
    int seen = t_watch.seen;
    t_watch.seen = 0;
    return seen;
}
