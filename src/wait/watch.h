// The calling thread's watch (SetThreadWatch), which every wait of the thread also watches, on
// both platforms (wait.cpp).
#pragma once

#include "wait/wait.h"

struct ThreadWatch {
    Waitable w = kNothing;
    int (*fired)(Waitable) = nullptr;  // null: every firing counts
    int seen = 0;                      // 1 once it has fired, until TakeThreadWatch
};
extern thread_local ThreadWatch t_watch;
