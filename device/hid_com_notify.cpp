// Hot-plug notification and asynchronous reading: the hidden window's
// handling of device arrival and removal, and the reader thread that posts
// every input report to the owner window.
#include "device/hid_com.h"

#include "device/broadcast_name.h"
#include "device/device_syscalls.h"

#include <process.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr DWORD readerStopWaitMs = 5000;
constexpr DWORD reportBytes = 9;

void PostStatus(HWND receiver, WPARAM code, LPARAM value)
{
    if (receiver)
        PostMessageA(receiver, WM_HIDCOM_STATUS, code, value);
}

uint32_t LittleEndian32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The NTSTATUS of a transfer. Only the low half of Internal is the status
// on a 64-bit system; the rest belongs to the I/O manager.
DWORD CompletionStatus(const OVERLAPPED &overlapped) { return static_cast<DWORD>(overlapped.Internal & 0xFFFFFFFFu); }

// Cancels the reader's read and waits until it has really ended, so that
// nothing completes into the reader's buffer after the reader is gone.
void EndPendingRead(HANDLE device, OVERLAPPED &overlapped)
{
    if (CompletionStatus(overlapped) != statusPending)
        return;
    DWORD transferred = 0;
    Sys().CancelIoEx(device, &overlapped);
    Sys().GetOverlappedResult(device, &overlapped, &transferred, TRUE);
}

// Whether a stop was requested while a read is in flight; if so the read
// has been ended, as EndPendingRead ends it.
bool StoppedDuringRead(const std::atomic<bool> &stopRequested, HANDLE device, OVERLAPPED &overlapped)
{
    if (!stopRequested)
        return false;
    EndPendingRead(device, overlapped);
    return true;
}

// Closes `handle` with `close` unless it already holds `none`, and leaves it
// holding `none`, so that a second call does nothing.
template <class Handle, class Close> void CloseOnce(Handle &handle, Handle none, Close close)
{
    if (handle == none)
        return;
    close(handle);
    handle = none;
}

void CloseDeviceHandle(HANDLE &handle) { CloseOnce(handle, INVALID_HANDLE_VALUE, Sys().CloseHandle); }

void CloseEvent(HANDLE &event) { CloseOnce<HANDLE>(event, nullptr, CloseHandle); }

bool IsHidInterfaceEvent(WPARAM event, LPARAM record)
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return false;
    if (!record)
        return false;
    return reinterpret_cast<const DEV_BROADCAST_HDR *>(record)->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
}

void HandleDeviceChange(hid_com &com, WPARAM event, LPARAM record)
{
    if (!IsHidInterfaceEvent(event, record))
        return;
    PostStatus(com.ownerWindow, HIDCOM_DEVICE_CHANGE, 0);

    if (event == DBT_DEVICEREMOVECOMPLETE) {
        // The system and the device manager spell the same path in
        // different letter cases.
        const auto *removed = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(record);
        const size_t header = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
        if (removed->dbcc_size <= header)
            return;
        const std::string name = BroadcastInterfaceName(removed->dbcc_name, removed->dbcc_size - header);
        if (!com.devicePath || _stricmp(com.devicePath, name.c_str()) != 0)
            return;
        com.Close();
        com.deviceFound = 0;
        PostStatus(com.ownerWindow, HIDCOM_DEVICE_ABSENT, 0);
        return;
    }

    // An arrival only looks for the device; opening it is the owner's call.
    if (com.IsOpen() || com.deviceFound)
        return;
    if (com.FindDevice())
        PostStatus(com.ownerWindow, HIDCOM_DEVICE_FOUND, 0);
}

}  // namespace

int hid_com::Attach(HWND owner)
{
    ownerWindow = owner;
    if (!Create())
        return 0;
    RegisterNotify();
    PostStatus(ownerWindow, FindDevice() ? HIDCOM_DEVICE_FOUND : HIDCOM_DEVICE_ABSENT, 0);
    return 1;
}

void hid_com::RegisterNotify()
{
    // One registration per object: a second would double every message.
    if (notifyHandle)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    library.GetHidGuid(&filter.dbcc_classguid);
    // Without a registration the object works on, unaware of hot-plugging.
    notifyHandle = Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void hid_com::UnregisterNotify() { CloseOnce<HDEVNOTIFY>(notifyHandle, nullptr, Sys().UnregisterDeviceNotification); }

int hid_com::Open()
{
    if (!deviceFound)
        return 0;
    if (readerThread)
        return 1;
    if (!devicePath)
        return 0;

    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    comReadHandle =
        Sys().CreateFileA(devicePath, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!comReadHandle)
        comReadHandle = INVALID_HANDLE_VALUE;
    if (comReadHandle == INVALID_HANDLE_VALUE)
        return 0;
    comWriteHandle = Sys().CreateFileA(devicePath, GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!comWriteHandle)
        comWriteHandle = INVALID_HANDLE_VALUE;
    if (comWriteHandle == INVALID_HANDLE_VALUE) {
        CloseDeviceHandle(comReadHandle);
        return 0;
    }

    std::memset(&readOverlapped, 0, sizeof readOverlapped);
    readOverlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    startedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    readerFailed = false;
    uintptr_t thread = 0;
    if (readOverlapped.hEvent && startedEvent)
        thread = _beginthreadex(nullptr, 0, ReaderLoop, this, 0, nullptr);
    if (!thread) {
        CloseEvent(readOverlapped.hEvent);
        CloseEvent(startedEvent);
        CloseDeviceHandle(comWriteHandle);
        CloseDeviceHandle(comReadHandle);
        return 0;
    }
    readerThread = reinterpret_cast<HANDLE>(thread);

    // After this the reader has cleared stopRequested, so a Close that
    // follows cannot be lost. A reader that died before saying so must not
    // keep Open waiting.
    HANDLE started[2] = {startedEvent, readerThread};
    WaitForMultipleObjects(2, started, FALSE, INFINITE);
    CloseEvent(startedEvent);
    return 1;
}

unsigned __stdcall hid_com::ReaderLoop(void *self)
{
    hid_com &com = *static_cast<hid_com *>(self);
    // The handle stays the same for the reader's whole life; only Close
    // changes the field, and Close waits for the reader first.
    const HANDLE device = com.comReadHandle;
    OVERLAPPED &overlapped = com.readOverlapped;
    uint8_t report[reportBytes] = {};
    DWORD transferred = 0;
    com.stopRequested = false;
    SetEvent(com.startedEvent);

    DWORD error = 0;
    for (;;) {
        if (com.stopRequested)
            return 0;
        const BOOL completed = Sys().ReadFile(device, report, reportBytes, &transferred, &overlapped);
        if (!completed) {
            const DWORD started = GetLastError();
            if (started != ERROR_IO_PENDING) {
                error = started;
                break;
            }
            // ReadFile resets the wake event, so a stop requested just
            // before it is seen here instead of by the wait.
            if (StoppedDuringRead(com.stopRequested, device, overlapped))
                return 0;
            // A wake with neither a stop request nor a finished read (the
            // event is shared with the transfer) means: wait on.
            BOOL waited = FALSE;
            DWORD waitError = 0;
            do {
                waited = Sys().GetOverlappedResult(device, &overlapped, &transferred, TRUE);
                waitError = GetLastError();
                if (StoppedDuringRead(com.stopRequested, device, overlapped))
                    return 0;
            } while (waited && CompletionStatus(overlapped) == statusPending);
            const DWORD status = CompletionStatus(overlapped);
            if (status == statusPending) {
                // The wait itself failed: give up the read and say why.
                EndPendingRead(device, overlapped);
                error = waitError;
                break;
            }
            if (status != 0) {
                error = status;
                break;
            }
        }
        PostMessageA(com.ownerWindow, WM_HIDCOM_REPORT, static_cast<WPARAM>(LittleEndian32(report + 5)),
                     static_cast<LPARAM>(LittleEndian32(report + 1)));
    }
    // The hidden window's thread closes the device and tells the owner.
    com.readerFailed = true;
    PostStatus(com.window, HIDCOM_READ_STOPPED, static_cast<LPARAM>(error));
    return 0;
}

void hid_com::Close()
{
    if (readerThread) {
        stopRequested = true;
        SetEvent(readOverlapped.hEvent);
        // A reader stuck beyond this still has its handles closed below.
        WaitForSingleObject(readerThread, readerStopWaitMs);
        CloseHandle(readerThread);
        readerThread = nullptr;
    }
    // The device first: closing it ends a read that a stuck reader left
    // behind, which would otherwise signal an event that is gone.
    CloseDeviceHandle(comReadHandle);
    CloseDeviceHandle(comWriteHandle);
    CloseEvent(readOverlapped.hEvent);
}

int hid_com::WriteReport(const void *buffer)
{
    if (!buffer || comWriteHandle == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const BOOL sent = Sys().WriteFile(comWriteHandle, buffer, match.inputReportLength, &written, nullptr);
    return sent && written ? 1 : 0;
}

int hid_com::FindIfIdle() { return readerThread ? 0 : FindDevice(); }

LRESULT hid_com::HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DEVICECHANGE:
        HandleDeviceChange(*this, wParam, lParam);
        break;
    case WM_HIDCOM_STATUS:
        // Only the report of the reader now open counts: once the device
        // was closed (by removal or by the owner) or reopened, the owner
        // knows already, and a stale report must not close a new reader.
        if (wParam == HIDCOM_READ_STOPPED && readerThread && readerFailed) {
            Close();
            PostStatus(ownerWindow, HIDCOM_READ_STOPPED, lParam);
        }
        break;
    case WM_QUERYENDSESSION:
        // A hidden helper window never stands in the way of a shutdown.
        return TRUE;
    default:
        break;
    }
    return 0;
}
