// What both benchmarks share: the floor of the protocol each figure is set
// against (the reports an operation needs at one 1 ms frame each, plus the
// pauses the protocol mandates), the wall clock, the best of several runs,
// and the line that reports a figure beside its floor.
#pragma once

#include "protocol/device_operations.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace bench {

constexpr double frameMs = 1.0;  // one report, one full-speed USB frame
constexpr double pauseAfterOpenMs = 5;  // after opening the port
constexpr double pauseAfterWriteMs = 5;  // after each write request
constexpr int identityWords = 3;  // version, type, the word at 255

// A read exchange is a request and a reply; a verified write is a request,
// the pause, then a read exchange.
constexpr double readExchangeMs = 2 * frameMs;
constexpr double verifiedWriteMs = frameMs + pauseAfterWriteMs + readExchangeMs;

// The floors of Read Device, Write Device (registers 5 to 255) and Format
// Device (all 256).
constexpr double readFloorMs = pauseAfterOpenMs + (2 * identityWords + 256) * readExchangeMs;
constexpr double writeFloorMs = pauseAfterOpenMs + 2 * identityWords * readExchangeMs + 251 * verifiedWriteMs;
constexpr double formatFloorMs = pauseAfterOpenMs + 256 * verifiedWriteMs;

inline double NowMs()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of `runs` wall times of one operation, in ms; false if it failed.
inline bool Measure(bool (*operation)(), int runs, double &bestMs)
{
    bestMs = 1e300;
    for (int i = 0; i < runs; ++i) {
        const double start = NowMs();
        if (!operation())
            return false;
        bestMs = std::min(bestMs, NowMs() - start);
    }
    return true;
}

// One figure beside its floor, the name indented and padded as the caller's
// list needs.
inline void Report(const char *indent, int nameWidth, const char *name, double wallMs, double floorMs)
{
    std::printf("%s%-*s wall %8.1f ms   floor %8.1f ms   ratio %5.2f\n", indent, nameWidth, name, wallMs, floorMs,
                wallMs / floorMs);
}

// The best times of Read, Write and Format Device, in ms.
struct OperationTimes {
    double readMs = 0, writeMs = 0, formatMs = 0;
};

// Measures the three operations in turn; false as soon as one fails.
inline bool MeasureOperations(int runs, OperationTimes &times)
{
    return Measure(ReadDevice, runs, times.readMs) && Measure(WriteDevice, runs, times.writeMs) &&
           Measure(FormatDevice, runs, times.formatMs);
}

// Their times beside their floors.
inline void ReportOperations(const char *indent, int nameWidth, const OperationTimes &times)
{
    Report(indent, nameWidth, "Read Device", times.readMs, readFloorMs);
    Report(indent, nameWidth, "Write Device", times.writeMs, writeFloorMs);
    Report(indent, nameWidth, "Format Device", times.formatMs, formatFloorMs);
}

}  // namespace bench
