// The benchmarks' clock under the Win32 layer: seconds from the performance counter.
#pragma once

#include <windows.h>

namespace vantrel::bench {

inline double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

}  // namespace vantrel::bench
