// The Win32 transport of the register protocol (register_calls.h): the
// converter's path opened twice, for reading and for writing, overlapped.
#include "protocol/device_port.h"

#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "protocol/operation_messages.h"

namespace {

HANDLE OpenPath(const char *path, DWORD access)
{
    if (!path)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = Sys().CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    return handle ? handle : INVALID_HANDLE_VALUE;
}

void ToOperationMessages(const char *text) { OperationMessage("%s", text); }

}  // namespace

DevicePort::DevicePort() { messages = ToOperationMessages; }

DevicePort::~DevicePort() { CloseDevicePort(*this); }

bool DevicePort::Open()
{
    Close();  // never lose handles that are still open
    readHandle = OpenPath(hidDevice.devicePath, GENERIC_READ);
    if (readHandle == INVALID_HANDLE_VALUE) {
        OperationMessage("USB open read failed");
        return false;
    }
    writeHandle = OpenPath(hidDevice.devicePath, GENERIC_WRITE);
    if (writeHandle == INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(readHandle);
        readHandle = INVALID_HANDLE_VALUE;
        OperationMessage("USB open write failed");
        return false;
    }
    return true;
}

void DevicePort::Close()
{
    if (writeHandle != INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(writeHandle);
        writeHandle = INVALID_HANDLE_VALUE;
    }
    if (readHandle != INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(readHandle);
        readHandle = INVALID_HANDLE_VALUE;
    }
}

// Every transfer moves as many bytes as the match criteria's input report
// length says, read afresh each time.
size_t DevicePort::ReportLength() const { return hidDevice.match.inputReportLength; }

bool DevicePort::Send(const uint8_t *report, size_t length)
{
    return SendReport(writeHandle, report, static_cast<DWORD>(length), event);
}

bool DevicePort::Receive(uint8_t *report, size_t length, unsigned waitMs)
{
    return ReceiveReport(readHandle, report, static_cast<DWORD>(length), event, waitMs);
}

int DevicePort::DiscardQueued(unsigned waitMs)
{
    return DiscardQueuedReports(readHandle, static_cast<DWORD>(ReportLength()), event, waitMs);
}

// The flush can fail and leave the queue as it was (it does on Wine), so
// what is still there is read away as well.
void DevicePort::EmptyQueue()
{
    if (!hidDevice.library.FlushQueue(readHandle))
        DiscardQueued(0);
}

void DevicePort::Pause(unsigned ms) { Sys().Sleep(ms); }

bool OpenDevicePort(DevicePort &port) { return port.Open(); }

void CloseDevicePort(DevicePort &port) { port.Close(); }
