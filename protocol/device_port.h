// Synchronous-looking register protocol over 9-byte HID reports.
#pragma once

#include <windows.h>
#include <cstdint>

struct DevicePort {
    HANDLE readHandle = INVALID_HANDLE_VALUE;
    HANDLE writeHandle = INVALID_HANDLE_VALUE;
};

bool OpenDevicePort(DevicePort &port);
void CloseDevicePort(DevicePort &port);
bool ReadRegister(DevicePort &port, uint8_t address, uint8_t &value);
bool ReadRegisterWord(DevicePort &port, uint8_t address, uint16_t &value);
bool WriteRegister(DevicePort &port, uint8_t address, uint8_t value);
bool WriteRegisterWord(DevicePort &port, uint8_t address, uint16_t value);
