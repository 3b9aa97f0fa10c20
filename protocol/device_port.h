// Synchronous-looking register protocol over 9-byte HID reports.
#pragma once

#include <windows.h>
#include <cstdint>

// What the last register call that failed on a port met, for the caller's
// own report: its (low) address, the stage of its last attempt, and whether
// it ended because the port could not be reopened between attempts.
struct RegisterFailure {
    int address = -1;
    int stage = 0;
    bool reopenFailed = false;
};

// The converter's read and write handles. A port closes itself when it goes
// out of scope, so no path out of an operation leaves a handle open; the
// operations still close it where the protocol says, and a second close
// does nothing.
struct DevicePort {
    HANDLE readHandle = INVALID_HANDLE_VALUE;
    HANDLE writeHandle = INVALID_HANDLE_VALUE;
    RegisterFailure failure;

    DevicePort() = default;
    ~DevicePort();
    DevicePort(const DevicePort &) = delete;
    DevicePort &operator=(const DevicePort &) = delete;
};

bool OpenDevicePort(DevicePort &port);
// Closes what is open; nothing when the port is closed already.
void CloseDevicePort(DevicePort &port);
bool ReadRegister(DevicePort &port, uint8_t address, uint8_t &value);
bool ReadRegisterWord(DevicePort &port, uint8_t address, uint16_t &value);
bool WriteRegister(DevicePort &port, uint8_t address, uint8_t value);
bool WriteRegisterWord(DevicePort &port, uint8_t address, uint16_t value);
