// --trace FILE on Linux (cli/wire_trace.h): every report the hidraw
// transport exchanged with the converter, every failed or timed-out
// transfer and each open and close of the node, in the Windows trace's
// format. The reports are shown as the protocol sees them, the report-ID
// byte in front. A retried attempt's queue flush is not in the trace.
#include "cli/wire_trace.h"

#include "linux/hidraw_transport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

FILE *traceFile = nullptr;
std::chrono::steady_clock::time_point traceStart;

void Line(const char *what, const std::string &detail)
{
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - traceStart).count();
    std::fprintf(traceFile, "%10.3f ms  %-6s %s\n", ms, what, detail.c_str());
    std::fflush(traceFile);
}

}  // namespace

Outcome StartWireTrace(const std::string &path)
{
    if (traceFile)
        return Outcome::Success();
    traceFile = std::fopen(path.c_str(), "w");
    if (!traceFile)
        return Outcome::Fail(exitFile, "cannot create the trace file " + path + ": " + std::strerror(errno));
    traceStart = std::chrono::steady_clock::now();
    SetTransportTraceHook(Line);
    return Outcome::Success();
}

void StopWireTrace()
{
    if (!traceFile)
        return;
    SetTransportTraceHook(nullptr);
    std::fclose(traceFile);
    traceFile = nullptr;
}
