// Inner state of the simulated bus, shared by its entry points. Everything
// here is guarded by BusState::lock; no entry point waits while holding it.
#pragma once

#include "sim/sim_bus.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim::detail {

// Fake handle ranges: above any kernel handle value on either width and
// never reused within a process, so a stale handle can never alias.
constexpr uintptr_t fileHandleBase = 0x7E000000;
constexpr uintptr_t listHandleBase = 0x7D000000;
constexpr uintptr_t notifyHandleBase = 0x7C000000;
constexpr uintptr_t fakeRangeSize = 0x01000000;

// NTSTATUS values an OVERLAPPED's Internal member carries (statusPending
// is the boundary's, device_syscalls.h).
constexpr ULONG_PTR statusSuccess = 0;
constexpr ULONG_PTR statusCancelled = 0xC0000120;
constexpr ULONG_PTR statusUnsuccessful = 0xC0000001;
constexpr ULONG_PTR statusDeviceNotConnected = 0xC000009D;

// The Win32 error GetOverlappedResult reports for a completion status.
DWORD ErrorOfStatus(ULONG_PTR status);

struct RuleState {
    FaultRule rule;
    int matched = 0;  // exchanges the rule has matched so far
};

struct DeviceState {
    std::array<uint8_t, 256> registers{};
    std::vector<RuleState> faults;
    std::array<int, 256> writes{};
    std::array<int, 256> reads{};
    int generation = 0;  // Unplug starts a new one: older handles are dead
    int readOpens = 0;  // opens with read access attempted so far
    int writeOpens = 0;
    int64_t replugAtMs = -1;  // a fault's unplug schedules the return
};

// An input report on its way to a reader, with the register it answers.
struct InputReport {
    Report bytes{};
    int replyTo = -1;  // address of the read request it answers; -1: pushed
};

// A reply on its way that the converter sends late.
struct LateReport {
    SimDevice *device = nullptr;
    InputReport report;
    uint64_t dueMs = 0;
};

struct PendingRead {
    OVERLAPPED *overlapped;
    uint8_t *buffer;
    DWORD length;
    // The I/O manager holds the event object, not the caller's handle: a
    // duplicate, signalled and closed at completion (null: signal hEvent).
    HANDLE event = nullptr;
};

// The event an OVERLAPPED names; its low bit only keeps a completion port out.
HANDLE EventOf(const OVERLAPPED *overlapped);

struct OpenFile {
    SimDevice *device = nullptr;
    int generation = 0;
    bool canRead = false;
    bool canWrite = false;
    DWORD shareMode = 0;
    bool overlapped = false;
    bool closed = false;
    unsigned inputBuffers = 32;  // HidD_SetNumInputBuffers
    std::deque<InputReport> queue;  // reports received, not yet read
    std::deque<PendingRead> pending;  // overlapped reads in flight
    int blockedReaders = 0;  // synchronous reads waiting
    unsigned cancelEpoch = 0;  // CancelIoEx wakes blocked readers
};

struct Registration {
    HWND window;
    GUID classGuid;
    bool allClasses;
};

struct DeviceList {
    std::vector<SimDevice *> devices;  // snapshot, in bus order
};

struct PreparsedBlock {
    uint32_t magic;
    SimDevice *device;
};

struct BusState {
    std::mutex lock;
    std::condition_variable changed;  // a report, a close, a cancel or a removal

    std::deque<std::unique_ptr<SimDevice>> devices;
    int devicesEverAdded = 0;  // gives every interface path its own instance id

    std::map<uintptr_t, std::shared_ptr<OpenFile>> files;
    uintptr_t nextFile = 0;
    std::map<uintptr_t, DeviceList> lists;
    uintptr_t nextList = 0;
    std::map<uintptr_t, Registration> registrations;
    uintptr_t nextNotify = 0;
    std::set<PreparsedBlock *> preparsed;
    std::vector<LateReport> lateReports;  // in the order sent

    int openHandlesTotal = 0;
    int libraryLoads = 0;
    int libraryFrees = 0;
    int timerDepth = 0;
    int notificationsSent = 0;
    std::vector<Transfer> traffic;
    std::vector<DWORD> sleeps;

    bool realTime = false;
    unsigned frameLatencyUs = 1000;
    uint64_t virtualMs = 0;
    ULONGLONG realStart = 0;  // tick count at which NowMs was 0 in real time

    std::shared_ptr<OpenFile> File(HANDLE handle);  // null when not open
    uint64_t NowMsLocked() const;
    // A device's reports reach every live read handle on it: a pending
    // overlapped read completes, otherwise the handle's queue keeps it.
    void Deliver(SimDevice &device, const InputReport &report);
    // Delivers the late replies whose time has come.
    void DeliverDueLocked();
    // The lock taken and the late replies due by now delivered, as the
    // entry points that look at the input queues begin.
    std::unique_lock<std::mutex> LockDelivered()
    {
        std::unique_lock<std::mutex> hold(lock);
        DeliverDueLocked();
        return hold;
    }
    // The time the next late reply is due, if one is on its way.
    std::optional<uint64_t> NextLateReplyMs() const;
    // Completes a pending read from `report`, applying receive faults.
    void CompleteRead(SimDevice &device, const PendingRead &read, const InputReport &report);
    void CompletePending(const PendingRead &read, ULONG_PTR status, DWORD count);
    // Ends every pending and blocked read on the file with `status`.
    void EndReads(OpenFile &file, ULONG_PTR status);
    void Record(bool toDevice, const Report &bytes, const SimDevice &device);
};

bool IsFakeFile(HANDLE handle);
bool IsFakeList(HDEVINFO list);
bool IsFakeNotify(HDEVNOTIFY handle);
HMODULE FakeHidModule();
bool LiveOn(const OpenFile &file);  // its device is present and of its generation

// The HID interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}.
extern const GUID hidClassGuid;

// The receive-side fault that fires for a report read now, if any.
std::optional<FaultRule::Kind> TakeReceiveFault(DeviceState &device, const InputReport &report);
// The send-side fault that fires for an output report, if any.
std::optional<FaultRule> TakeSendFault(DeviceState &device, uint8_t command, uint8_t address);

// The converter firmware: handles one output report; the reply to a read
// request, if any. `fault` is the send-side fault in force (WrongReadBack,
// NoReply, LateReply) or none.
std::optional<InputReport> RunFirmware(DeviceState &device, const Report &request,
                                       std::optional<FaultRule::Kind> fault);

// Runs the replugs that fault-caused unplugs scheduled and that are due.
void RunDueReplugs();
// Sleeps for real, to the microsecond.
void RealPause(unsigned microseconds);

// The bus's state, for the entry points.
inline BusState &Bus() { return SimBus::Instance().State(); }

// An entry point's failure: the system's last error set, its failing result returned.
template <class Result> Result Fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

// What `act` makes of the bus state, run under its lock.
template <class Act> auto UnderLock(BusState &bus, Act act)
{
    std::lock_guard<std::mutex> hold(bus.lock);
    return act(bus);
}

// An entry point that ends what a handle names (a list, a registration, a
// preparsed block): `end` runs under the bus lock and says whether the
// handle named one; FALSE with `error` when it did not.
template <class End> BOOL EndUnderLock(DWORD error, End end)
{
    if (!UnderLock(Bus(), end))
        return Fail(error, FALSE);
    return TRUE;
}

}  // namespace sim::detail
