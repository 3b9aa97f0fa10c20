// CreateFileA, ReadFile, WriteFile and CloseHandle on interface paths, as
// the HID class driver serves them: per-handle input queues, overlapped
// reads that complete into the caller's buffer only when a report comes,
// and handles that die with their device.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

namespace sim::detail {

namespace {

bool HasReadAccess(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0; }

bool HasWriteAccess(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) != 0; }

// Counts an open of a faulted kind and says whether it fails.
bool OpenFault(bool enabled, int &opensSoFar, int opensBeforeFailure)
{
    if (!enabled)
        return false;
    const int index = opensSoFar++;
    return opensBeforeFailure < 0 || index >= opensBeforeFailure;
}

bool SharingConflict(const OpenFile &open, bool read, bool write, DWORD share)
{
    return (read && !(open.shareMode & FILE_SHARE_READ)) || (write && !(open.shareMode & FILE_SHARE_WRITE)) ||
           (open.canRead && !(share & FILE_SHARE_READ)) || (open.canWrite && !(share & FILE_SHARE_WRITE));
}

bool StillOnBus(BusState &bus, const SimDevice *device)
{
    for (const auto &d : bus.devices)
        if (d.get() == device)
            return true;
    return false;
}

void ResetEventOf(OVERLAPPED *overlapped)
{
    if (HANDLE event = EventOf(overlapped))
        ResetEvent(event);
}

// An overlapped transfer begins: in flight, nothing moved yet.
void StartOverlapped(OVERLAPPED *overlapped)
{
    ResetEventOf(overlapped);
    overlapped->Internal = statusPending;
    overlapped->InternalHigh = 0;
}

// An overlapped transfer that is over as soon as it began.
void CompleteAtOnce(BusState &bus, OVERLAPPED *overlapped, DWORD count)
{
    bus.CompletePending(PendingRead{overlapped, nullptr, 0}, statusSuccess, count);
}

// A finished transfer's result: reported pending (though already complete)
// or done, with its count.
BOOL Finished(bool reportPending, LPDWORD transferred, DWORD count)
{
    if (reportPending)
        return Fail(ERROR_IO_PENDING, FALSE);
    if (transferred)
        *transferred = count;
    return TRUE;
}

// Why a report transfer on `file` cannot start (ERROR_SUCCESS: it can):
// the handle, its access, its device and the caller's buffer, in that order.
DWORD TransferError(const OpenFile *file, bool write, const void *buffer, DWORD length)
{
    if (!file)
        return ERROR_INVALID_HANDLE;
    if (!(write ? file->canWrite : file->canRead))
        return ERROR_ACCESS_DENIED;
    if (!LiveOn(*file))
        return ERROR_DEVICE_NOT_CONNECTED;
    const DeviceIdentity &id = file->device->identity;
    const DWORD reportLength = write ? id.outputReportLength : id.inputReportLength;
    if (reportLength == 0)
        return ERROR_INVALID_FUNCTION;  // the device has no such report
    if (!buffer || length < reportLength)
        return ERROR_INVALID_USER_BUFFER;
    return ERROR_SUCCESS;
}

// A reference to the caller's event that outlives the caller's handle.
HANDLE HoldEvent(OVERLAPPED *overlapped)
{
    HANDLE held = nullptr;
    if (HANDLE event = EventOf(overlapped))
        DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &held, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return held;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                          HANDLE)
{
    RunDueReplugs();
    if (!path)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    BusState &bus = Bus();
    std::lock_guard<std::mutex> hold(bus.lock);
    SimDevice *device = nullptr;
    for (auto &d : bus.devices)
        if (_stricmp(d->path.c_str(), path) == 0)
            device = d.get();
    if (!device || !device->present)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (disposition != OPEN_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);

    const bool read = HasReadAccess(access);
    const bool write = HasWriteAccess(access);
    DeviceState &state = device->State();
    if (read && OpenFault(device->failOpenRead, state.readOpens, device->opensBeforeFailure))
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (write && OpenFault(device->failOpenWrite, state.writeOpens, device->opensBeforeFailure))
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (!read && !write && device->failOpenQuery)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    // Opens without data access never conflict with others, as in NT.
    if (read || write)
        for (const auto &entry : bus.files) {
            const OpenFile &open = *entry.second;
            if (open.device == device && LiveOn(open) && (open.canRead || open.canWrite) &&
                SharingConflict(open, read, write, share))
                return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        }

    auto file = std::make_shared<OpenFile>();
    file->device = device;
    file->generation = state.generation;
    file->canRead = read;
    file->canWrite = write;
    file->shareMode = share;
    file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    const uintptr_t value = fileHandleBase + 4 * ++bus.nextFile;
    bus.files[value] = file;
    ++bus.openHandlesTotal;
    return reinterpret_cast<HANDLE>(value);
}

DWORD SendOutputReport(HANDLE handle, const void *buffer, DWORD length, DWORD &count)
{
    BusState &bus = Bus();
    count = 0;
    SimDevice *device = nullptr;
    std::optional<InputReport> reply;
    bool unplug = false;
    bool late = false;
    bool sent = false;
    unsigned latencyUs = 0;
    {
        std::lock_guard<std::mutex> hold(bus.lock);
        std::shared_ptr<OpenFile> file = bus.File(handle);
        if (const DWORD error = TransferError(file.get(), true, buffer, length))
            return error;
        device = file->device;
        const DWORD reportLength = device->identity.outputReportLength;
        const auto *bytes = static_cast<const uint8_t *>(buffer);
        if (bytes[0] != 0)
            return ERROR_INVALID_PARAMETER;  // the device uses no report IDs
        Report request{};
        std::memcpy(request.data(), bytes, std::min<size_t>(reportLength, request.size()));

        DeviceState &state = device->State();
        std::optional<FaultRule> fault = TakeSendFault(state, request[1], request[2]);
        if (fault && fault->kind == FaultRule::SendFails)
            return ERROR_GEN_FAILURE;
        if (fault && fault->kind == FaultRule::Unplug) {
            if (fault->replugAfterMs >= 0)
                state.replugAtMs = static_cast<int64_t>(bus.NowMsLocked()) + fault->replugAfterMs;
            unplug = true;
        } else if (!fault || fault->kind != FaultRule::SendZero) {
            bus.Record(true, request, *device);
            if (device->converter)
                reply = RunFirmware(state, request, fault ? std::optional<FaultRule::Kind>(fault->kind) : std::nullopt);
            if (reply && fault && fault->kind == FaultRule::LateReply) {
                const uint64_t due = bus.NowMsLocked() + static_cast<uint64_t>(std::max(fault->replyAfterMs, 0));
                bus.lateReports.push_back(LateReport{device, *reply, due});
                late = true;
            }
            sent = true;
            count = reportLength;
        }
        if (bus.realTime)
            latencyUs = bus.frameLatencyUs;
    }
    if (unplug) {
        SimBus::Instance().Unplug(*device);
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    // The request's frame on the wire, then the reply's.
    if (sent && latencyUs)
        RealPause(reply && !late ? 2 * latencyUs : latencyUs);
    if (reply && !late) {
        std::lock_guard<std::mutex> hold(bus.lock);
        if (StillOnBus(bus, device) && device->present) {
            bus.Record(false, reply->bytes, *device);
            bus.Deliver(*device, *reply);
        }
    }
    return ERROR_SUCCESS;
}

BOOL SendOutputReportOrFail(HANDLE handle, const void *buffer, DWORD length, DWORD &count)
{
    const DWORD error = SendOutputReport(handle, buffer, length, count);
    if (error != ERROR_SUCCESS)
        return Fail(error, FALSE);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (!IsFakeFile(handle))
        return ::WriteFile(handle, buffer, length, written, overlapped);
    if (written)
        *written = 0;
    bool overlappedHandle = false;
    bool atOnce = false;
    {
        BusState &bus = Bus();
        std::lock_guard<std::mutex> hold(bus.lock);
        std::shared_ptr<OpenFile> file = bus.File(handle);
        if (file) {
            overlappedHandle = file->overlapped;
            atOnce = file->device->completeWritesAtOnce;
        }
    }
    if (overlappedHandle && !overlapped)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (overlapped)
        StartOverlapped(overlapped);
    DWORD count = 0;
    if (!SendOutputReportOrFail(handle, buffer, length, count))
        return FALSE;
    if (overlapped) {
        BusState &bus = Bus();
        std::lock_guard<std::mutex> hold(bus.lock);
        CompleteAtOnce(bus, overlapped, count);
    }
    return Finished(overlappedHandle && !atOnce, written, count);
}

namespace {

// Takes a queued report for a read; false when a receive fault failed it.
bool TakeQueued(OpenFile &file, uint8_t *buffer, DWORD length, DWORD &count)
{
    InputReport report = file.queue.front();
    file.queue.pop_front();
    std::optional<FaultRule::Kind> fault = TakeReceiveFault(file.device->State(), report);
    count = 0;
    if (fault == FaultRule::ReceiveFails)
        return false;
    if (fault == FaultRule::ReceiveZero)
        return true;
    std::memset(buffer, 0, length);
    std::memcpy(buffer, report.bytes.data(), std::min<size_t>(length, report.bytes.size()));
    count = length;
    return true;
}

BOOL BlockingRead(BusState &bus, std::unique_lock<std::mutex> &hold, std::shared_ptr<OpenFile> file, uint8_t *buffer,
                  DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    const unsigned epoch = file->cancelEpoch;
    ++file->blockedReaders;
    DWORD error = ERROR_SUCCESS;
    DWORD count = 0;
    for (;;) {
        if (file->closed || (epoch != file->cancelEpoch && LiveOn(*file))) {
            error = ERROR_OPERATION_ABORTED;
            break;
        }
        if (!LiveOn(*file)) {
            error = ERROR_DEVICE_NOT_CONNECTED;
            break;
        }
        if (!file->queue.empty()) {
            if (!TakeQueued(*file, buffer, length, count))
                error = ERROR_GEN_FAILURE;
            break;
        }
        bus.changed.wait(hold);
    }
    --file->blockedReaders;
    if (error != ERROR_SUCCESS)
        return Fail(error, FALSE);
    if (read)
        *read = count;
    if (overlapped)
        CompleteAtOnce(bus, overlapped, count);
    return TRUE;
}

}  // namespace

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (!IsFakeFile(handle))
        return ::ReadFile(handle, buffer, length, read, overlapped);
    if (read)
        *read = 0;
    BusState &bus = Bus();
    std::unique_lock<std::mutex> hold = bus.LockDelivered();
    std::shared_ptr<OpenFile> file = bus.File(handle);
    if (const DWORD error = TransferError(file.get(), false, buffer, length))
        return Fail(error, FALSE);
    const DWORD reportLength = file->device->identity.inputReportLength;
    auto *bytes = static_cast<uint8_t *>(buffer);
    if (!file->overlapped)
        return BlockingRead(bus, hold, file, bytes, reportLength, read, overlapped);

    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    StartOverlapped(overlapped);
    if (file->queue.empty()) {
        file->pending.push_back(PendingRead{overlapped, bytes, reportLength, HoldEvent(overlapped)});
        return Fail(ERROR_IO_PENDING, FALSE);
    }
    DWORD count = 0;
    if (!TakeQueued(*file, bytes, reportLength, count)) {
        overlapped->Internal = statusUnsuccessful;
        return Fail(ERROR_GEN_FAILURE, FALSE);
    }
    CompleteAtOnce(bus, overlapped, count);
    return Finished(!file->device->completeReadsAtOnce, read, count);
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    if (IsFakeFile(handle)) {
        BusState &bus = Bus();
        std::lock_guard<std::mutex> hold(bus.lock);
        auto found = bus.files.find(reinterpret_cast<uintptr_t>(handle));
        if (found == bus.files.end())
            return Fail(ERROR_INVALID_HANDLE, FALSE);
        // Closing a handle cancels what is still in flight on it.
        bus.EndReads(*found->second, statusCancelled);
        found->second->closed = true;
        bus.files.erase(found);
        return TRUE;
    }
    if (IsFakeList(reinterpret_cast<HDEVINFO>(handle)) || IsFakeNotify(reinterpret_cast<HDEVNOTIFY>(handle)))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return ::CloseHandle(handle);
}

namespace {

// Real time: how long a wait may sleep before delivering late replies
// again. Until the next is due, and briefly even with none on its way, as
// another thread may send a request whose reply comes late.
DWORD LateReplySliceMs(BusState &bus)
{
    constexpr uint64_t pollMs = 10;
    const std::optional<uint64_t> next = bus.NextLateReplyMs();
    const uint64_t now = bus.NowMsLocked();
    const uint64_t untilDue = next ? (*next > now ? *next - now : 0) : pollMs;
    return static_cast<DWORD>(std::min(untilDue, pollMs));
}

}  // namespace

BOOL WINAPI GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait)
{
    if (!IsFakeFile(handle))
        return ::GetOverlappedResult(handle, overlapped, count, wait);
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    BusState &bus = Bus();
    std::unique_lock<std::mutex> hold(bus.lock);
    if (overlapped->Internal == statusPending) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE, FALSE);
        // Time-sliced like the bus's other waits, so a late reply that falls
        // due meanwhile is delivered and may complete this very read.
        const HANDLE event = EventOf(overlapped);
        for (bus.DeliverDueLocked(); overlapped->Internal == statusPending; bus.DeliverDueLocked()) {
            const DWORD slice = bus.realTime ? LateReplySliceMs(bus) : INFINITE;
            if (!event) {
                if (slice == INFINITE)
                    bus.changed.wait(hold);
                else
                    bus.changed.wait_for(hold, std::chrono::milliseconds(slice));
                continue;
            }
            hold.unlock();
            const DWORD result = ::WaitForSingleObject(event, slice);
            hold.lock();
            if (result != WAIT_TIMEOUT)
                break;
        }
    }
    // Woken by its event while the transfer is still in flight, Windows
    // reports success with the count so far; so does the bus.
    ULONG_PTR status = overlapped->Internal;
    if (status == statusPending)
        status = statusSuccess;
    if (count)
        *count = static_cast<DWORD>(overlapped->InternalHigh);
    if (static_cast<LONG>(status) < 0)
        return Fail(ErrorOfStatus(status), FALSE);
    return TRUE;
}

BOOL WINAPI CancelIoEx(HANDLE handle, LPOVERLAPPED overlapped)
{
    if (!IsFakeFile(handle))
        return ::CancelIoEx(handle, overlapped);
    BusState &bus = Bus();
    std::lock_guard<std::mutex> hold(bus.lock);
    std::shared_ptr<OpenFile> file = bus.File(handle);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    bool found = false;
    for (auto read = file->pending.begin(); read != file->pending.end();) {
        if (overlapped && read->overlapped != overlapped) {
            ++read;
            continue;
        }
        PendingRead cancelled = *read;
        read = file->pending.erase(read);
        bus.CompletePending(cancelled, statusCancelled, 0);
        found = true;
    }
    if (!overlapped && file->blockedReaders > 0) {
        ++file->cancelEpoch;
        bus.changed.notify_all();
        found = true;
    }
    return found ? TRUE : Fail(ERROR_NOT_FOUND, FALSE);
}

}  // namespace sim::detail
