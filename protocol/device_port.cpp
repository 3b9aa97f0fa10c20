#include "protocol/device_port.h"
// TODO(protocol): not built yet.
bool OpenDevicePort(DevicePort &) { return false; }
void CloseDevicePort(DevicePort &) {}
bool ReadRegister(DevicePort &, uint8_t, uint8_t &) { return false; }
bool ReadRegisterWord(DevicePort &, uint8_t, uint16_t &) { return false; }
bool WriteRegister(DevicePort &, uint8_t, uint8_t) { return false; }
bool WriteRegisterWord(DevicePort &, uint8_t, uint16_t) { return false; }
