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

struct DevicePort {
    HANDLE readHandle = INVALID_HANDLE_VALUE;
    HANDLE writeHandle = INVALID_HANDLE_VALUE;
    RegisterFailure failure;
};

bool OpenDevicePort(DevicePort &port);
void CloseDevicePort(DevicePort &port);
bool ReadRegister(DevicePort &port, uint8_t address, uint8_t &value);
bool ReadRegisterWord(DevicePort &port, uint8_t address, uint16_t &value);
bool WriteRegister(DevicePort &port, uint8_t address, uint8_t value);
bool WriteRegisterWord(DevicePort &port, uint8_t address, uint16_t value);
