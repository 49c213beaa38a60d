#pragma once

#include <windows.h>

namespace bench {

// Seconds on the performance counter: the one clock every figure of the
// benchmark is read from, so that floors and the program compare fairly.
inline double now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

} // namespace bench
