// Device access: finds the converter among the present HID interfaces and
// keeps its path; can also watch arrival and removal through a hidden
// window and read input reports on a background thread.
#pragma once

#include "device/hid_library.h"
#include "device/wnd.h"

#include <atomic>
#include <cstdint>

// Identity of the wanted device. Report lengths are stored as payload + 1
// (the report-ID byte), as HidP_GetCaps counts them.
struct DeviceMatch {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t releaseNumber;
    uint8_t inputReportLength;
    uint8_t outputReportLength;
    char manufacturer[260];
    char product[260];
};

// Messages posted to the owner window.
enum : UINT {
    WM_HIDCOM_STATUS = 1468,
    WM_HIDCOM_REPORT = 1469,
};

enum : WPARAM {
    HIDCOM_READ_STOPPED = 2,
    HIDCOM_DEVICE_FOUND = 3,
    HIDCOM_DEVICE_ABSENT = 4,
    HIDCOM_DEVICE_CHANGE = 5,
};

class hid_com : public Wnd {
public:
    hid_com();
    ~hid_com() override;

    void SetMatch(uint16_t vendorId, uint16_t productId, uint16_t releaseNumber, uint8_t inputPayloadLength,
                  uint8_t outputPayloadLength, const char *manufacturerString, const char *productString);
    int FindDevice();
    uint32_t ReadReportLengths(HANDLE device);

    // Hot-plug notification and asynchronous reading.
    int Attach(HWND owner);
    void RegisterNotify();
    void UnregisterNotify();
    int Open();
    void Close();
    bool IsOpen() const { return readerThread != nullptr; }
    int WriteReport(const void *buffer);
    int FindIfIdle();
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // The notification registration belongs to the window: it goes with it,
    // so that the next Attach registers the new window.
    void OnDestroy() override { UnregisterNotify(); }

    HidLibrary library;
    HDEVNOTIFY notifyHandle = nullptr;
    HWND ownerWindow = nullptr;
    HANDLE comWriteHandle = INVALID_HANDLE_VALUE;
    HANDLE comReadHandle = INVALID_HANDLE_VALUE;
    OVERLAPPED readOverlapped = {};
    HANDLE readerThread = nullptr;
    HANDLE startedEvent = nullptr;
    char *devicePath = nullptr;
    // Written by Close on the owner's thread (set) and by the reader when it
    // starts (cleared); the reader tests it around each read. Atomic, and no
    // lock: it is one flag, and no other state is handed over through it
    // (Open waits until the reader has started, Close until it has ended,
    // before either touches the handles).
    std::atomic<bool> stopRequested{false};
    int deviceFound = 0;
    DeviceMatch match = {};

private:
    static unsigned __stdcall ReaderLoop(void *self);
    // Set by a reader that ended on a read error, cleared by Open before it
    // starts the reader: its report to the hidden window still concerns the
    // open device only while this is set and the reader has not been closed.
    // The hidden window tests it on the owner's thread. Atomic, and no lock:
    // it is one flag, and the reader sets it before it posts that report.
    std::atomic<bool> readerFailed{false};
};

// The one device-access object of the process.
extern hid_com hidDevice;
