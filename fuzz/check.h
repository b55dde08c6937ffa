// What a fuzz target holds to: a property that does not hold stops the run there, as a finding.
#pragma once

inline void Check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}
