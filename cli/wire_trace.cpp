#include "cli/wire_trace.h"

#include "cli/wide_names.h"
#include "config/hex_text.h"
#include "device/device_syscalls.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Transfer {
    const uint8_t *buffer;
    bool toDevice;
};

HANDLE WINAPI TracedCreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI TracedCloseHandle(HANDLE);
BOOL WINAPI TracedWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI TracedReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI TracedGetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);

// The traced entries, each passing the call on to the one it replaced.
struct TraceOverrides {
    SyscallOverride<decltype(DeviceSyscalls::CreateFileA)> createFile{&DeviceSyscalls::CreateFileA, TracedCreateFileA};
    SyscallOverride<decltype(DeviceSyscalls::CloseHandle)> closeHandle{&DeviceSyscalls::CloseHandle, TracedCloseHandle};
    SyscallOverride<decltype(DeviceSyscalls::WriteFile)> writeFile{&DeviceSyscalls::WriteFile, TracedWriteFile};
    SyscallOverride<decltype(DeviceSyscalls::ReadFile)> readFile{&DeviceSyscalls::ReadFile, TracedReadFile};
    SyscallOverride<decltype(DeviceSyscalls::GetOverlappedResult)> overlappedResult{
        &DeviceSyscalls::GetOverlappedResult, TracedGetOverlappedResult};
};

struct TraceState {
    std::mutex lock;
    FILE *file = nullptr;
    std::string path;
    bool writeFailed = false;
    std::unique_ptr<TraceOverrides> overrides;
    LARGE_INTEGER start{}, frequency{};
    std::map<HANDLE, const char *> handles;  // open device handles and their access
    std::map<const OVERLAPPED *, Transfer> inFlight;
};

TraceState &State()
{
    static TraceState state;
    return state;
}

// Writes one line; keeps the caller's last error, which the protocol reads next.
void Line(const char *what, const std::string &detail)
{
    const DWORD error = GetLastError();
    TraceState &s = State();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double ms =
        1000.0 * static_cast<double>(now.QuadPart - s.start.QuadPart) / static_cast<double>(s.frequency.QuadPart);
    if (std::fprintf(s.file, "%10.3f ms  %-6s %s\n", ms, what, detail.c_str()) < 0 || std::fflush(s.file) != 0)
        s.writeFailed = true;
    SetLastError(error);
}

std::string ErrorNumber(DWORD error) { return "(system error " + std::to_string(error) + ")"; }

const char *AccessName(DWORD access)
{
    if (access & GENERIC_READ)
        return access & GENERIC_WRITE ? "read+write" : "read";
    return access & GENERIC_WRITE ? "write" : "query";
}

HANDLE WINAPI TracedCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model)
{
    TraceState &s = State();
    HANDLE handle = s.overrides->createFile.Replaced()(path, access, share, security, disposition, flags, model);
    const DWORD error = GetLastError();
    std::lock_guard<std::mutex> hold(s.lock);
    std::string detail = std::string(AccessName(access)) + "  " + (path ? path : "(no path)");
    if (handle == INVALID_HANDLE_VALUE || !handle) {
        Line("open", detail + "  failed " + ErrorNumber(error));
    } else {
        s.handles[handle] = AccessName(access);
        Line("open", detail);
    }
    SetLastError(error);
    return handle;
}

BOOL WINAPI TracedCloseHandle(HANDLE handle)
{
    TraceState &s = State();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        auto found = s.handles.find(handle);
        if (found != s.handles.end()) {
            Line("close", found->second);
            s.handles.erase(found);
        }
    }
    return s.overrides->closeHandle.Replaced()(handle);
}

// A transfer that ended at once: its bytes or its failure. A started
// overlapped one is remembered until GetOverlappedResult ends it.
void Started(BOOL done, DWORD count, const uint8_t *buffer, bool toDevice, LPOVERLAPPED overlapped)
{
    const DWORD error = GetLastError();
    TraceState &s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    const char *direction = toDevice ? "out" : "in";
    if (overlapped && (done || error == ERROR_IO_PENDING))
        s.inFlight[overlapped] = Transfer{buffer, toDevice};
    else if (done && count)
        Line(direction, HexBytes(buffer, count));
    else
        Line(direction, done ? "failed: 0 bytes" : "failed " + ErrorNumber(error));
    SetLastError(error);
}

BOOL WINAPI TracedWriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped)
{
    BOOL done = State().overrides->writeFile.Replaced()(handle, buffer, length, written, overlapped);
    Started(done, written ? *written : 0, static_cast<const uint8_t *>(buffer), true, overlapped);
    return done;
}

BOOL WINAPI TracedReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    BOOL done = State().overrides->readFile.Replaced()(handle, buffer, length, read, overlapped);
    Started(done, read ? *read : 0, static_cast<const uint8_t *>(buffer), false, overlapped);
    return done;
}

BOOL WINAPI TracedGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait)
{
    TraceState &s = State();
    BOOL done = s.overrides->overlappedResult.Replaced()(handle, overlapped, count, wait);
    const DWORD error = GetLastError();
    std::lock_guard<std::mutex> hold(s.lock);
    auto found = s.inFlight.find(overlapped);
    if (found != s.inFlight.end()) {
        const char *direction = found->second.toDevice ? "out" : "in";
        if (done && count && *count)
            Line(direction, HexBytes(found->second.buffer, *count));
        else if (done)
            Line(direction, "failed: 0 bytes");
        else if (error == ERROR_OPERATION_ABORTED)
            Line(direction, "cancelled: no answer in time");
        else
            Line(direction, "failed " + ErrorNumber(error));
        s.inFlight.erase(found);
    }
    SetLastError(error);
    return done;
}

}  // namespace

Outcome StartWireTrace(const std::string &path)
{
    TraceState &s = State();
    if (s.file)
        return Outcome::Success();
    s.file = _wfopen(FileSystemName(path).c_str(), L"w");
    if (!s.file)
        return Outcome::Fail(exitFile, "cannot create the trace file " + path + ": " + std::strerror(errno));
    s.path = path;
    s.writeFailed = false;
    QueryPerformanceFrequency(&s.frequency);
    QueryPerformanceCounter(&s.start);
    s.overrides = std::make_unique<TraceOverrides>();
    return Outcome::Success();
}

Outcome StopWireTrace()
{
    TraceState &s = State();
    if (!s.file)
        return Outcome::Success();
    s.overrides.reset();
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    s.handles.clear();
    s.inFlight.clear();
    if (s.writeFailed || !closed)
        return Outcome::Fail(exitFile,
                             "the trace file " + s.path + " could not be written in full (is the disk full?)");
    return Outcome::Success();
}
