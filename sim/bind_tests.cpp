// TODO(sim): binds the device boundary to the simulated bus for tests.
#include "device/device_syscalls.h"
DeviceSyscalls BindDeviceSyscalls() { return DeviceSyscalls{}; }
