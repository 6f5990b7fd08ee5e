#pragma once
// One line of figures for a series of timed runs: how many, their mean,
// median and slowest, in milliseconds.

#include <algorithm>
#include <cstdio>
#include <vector>

inline void printRuns(const char* what, std::vector<double> ms)
{
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    double total = 0;
    for (double m : ms)
        total += m;
    std::printf("%-56s %4zu runs  mean %9.3f ms  median %9.3f ms  max %9.3f ms\n", what, ms.size(),
                total / double(ms.size()), ms[ms.size() / 2], ms.back());
}
