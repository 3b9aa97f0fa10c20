// How input reports reach readers and how reads end: the bookkeeping
// behind ReadFile, CancelIoEx, CloseHandle and a device's removal.
#include "sim/sim_state.h"

#include <algorithm>
#include <cstring>

namespace sim::detail {

const GUID hidClassGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

DWORD ErrorOfStatus(ULONG_PTR status)
{
    switch (status) {
    case statusSuccess:
    case statusPending:
        return ERROR_SUCCESS;
    case statusCancelled:
        return ERROR_OPERATION_ABORTED;
    case statusDeviceNotConnected:
        return ERROR_DEVICE_NOT_CONNECTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

namespace {
bool InRange(uintptr_t value, uintptr_t base) { return value >= base && value < base + fakeRangeSize; }
}  // namespace

bool IsFakeFile(HANDLE handle) { return InRange(reinterpret_cast<uintptr_t>(handle), fileHandleBase); }

bool IsFakeList(HDEVINFO list) { return InRange(reinterpret_cast<uintptr_t>(list), listHandleBase); }

bool IsFakeNotify(HDEVNOTIFY handle) { return InRange(reinterpret_cast<uintptr_t>(handle), notifyHandleBase); }

bool LiveOn(const OpenFile &file)
{
    return !file.closed && file.device->present && file.generation == file.device->State().generation;
}

std::shared_ptr<OpenFile> BusState::File(HANDLE handle)
{
    auto found = files.find(reinterpret_cast<uintptr_t>(handle));
    return found == files.end() ? nullptr : found->second;
}

uint64_t BusState::NowMsLocked() const { return realTime ? GetTickCount64() - realStart : virtualMs; }

void BusState::Record(bool toDevice, const Report &bytes, const SimDevice &device)
{
    traffic.push_back(Transfer{NowMsLocked(), toDevice, bytes, device.path});
}

HANDLE EventOf(const OVERLAPPED *overlapped)
{
    return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t(1));
}

void BusState::CompletePending(const PendingRead &read, ULONG_PTR status, DWORD count)
{
    read.overlapped->InternalHigh = count;
    read.overlapped->Internal = status;
    if (read.event) {
        SetEvent(read.event);
        ::CloseHandle(read.event);
    } else if (HANDLE event = EventOf(read.overlapped)) {
        SetEvent(event);
    }
    changed.notify_all();
}

void BusState::CompleteRead(SimDevice &device, const PendingRead &read, const InputReport &report)
{
    std::optional<FaultRule::Kind> fault = TakeReceiveFault(device.State(), report);
    if (fault == FaultRule::ReceiveFails) {
        CompletePending(read, statusUnsuccessful, 0);
        return;
    }
    if (fault == FaultRule::ReceiveZero) {
        CompletePending(read, statusSuccess, 0);
        return;
    }
    // The caller's buffer is written only now, at completion.
    std::memset(read.buffer, 0, read.length);
    std::memcpy(read.buffer, report.bytes.data(), std::min<size_t>(read.length, report.bytes.size()));
    CompletePending(read, statusSuccess, read.length);
}

void BusState::Deliver(SimDevice &device, const InputReport &report)
{
    for (auto &entry : files) {
        OpenFile &file = *entry.second;
        if (file.device != &device || !file.canRead || !LiveOn(file))
            continue;
        if (!file.pending.empty()) {
            PendingRead read = file.pending.front();
            file.pending.pop_front();
            CompleteRead(device, read, report);
            continue;
        }
        // The HID driver's ring buffer: when full, the oldest report goes.
        file.queue.push_back(report);
        while (file.queue.size() > file.inputBuffers)
            file.queue.pop_front();
    }
    changed.notify_all();
}

void BusState::DeliverDueLocked()
{
    const uint64_t now = NowMsLocked();
    std::vector<LateReport> due;
    for (auto late = lateReports.begin(); late != lateReports.end();) {
        if (late->dueMs > now) {
            ++late;
            continue;
        }
        due.push_back(*late);
        late = lateReports.erase(late);
    }
    for (const LateReport &late : due) {
        if (!late.device->present)
            continue;
        Record(false, late.report.bytes, *late.device);
        Deliver(*late.device, late.report);
    }
}

std::optional<uint64_t> BusState::NextLateReplyMs() const
{
    std::optional<uint64_t> next;
    for (const LateReport &late : lateReports)
        if (!next || late.dueMs < *next)
            next = late.dueMs;
    return next;
}

void BusState::EndReads(OpenFile &file, ULONG_PTR status)
{
    for (const PendingRead &read : file.pending)
        CompletePending(read, status, 0);
    file.pending.clear();
    ++file.cancelEpoch;
    changed.notify_all();
}

}  // namespace sim::detail
