// Tests: the device boundary on an empty simulated bus, in virtual time.
// Each test adds the devices it needs.
#include "device/device_syscalls.h"
#include "sim/sim_bus.h"

DeviceSyscalls BindDeviceSyscalls() { return sim::BusSyscalls(); }
