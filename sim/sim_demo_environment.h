// What the demo programs take from their environment:
//   ZYR_SIM_STATE=FILE  the converter's registers are loaded from FILE at
//                       start (created with the factory registers when
//                       absent) and saved to it after every request that
//                       changed them, so successive runs, and the dialog
//                       and zyrctl in turn, see one converter; a failed
//                       save is said once on standard error;
//   ZYR_SIM_FAULT=RULES faults injected into the converter (syntax in
//                       sim/sim_fault_text.h).
// A bad setting ends the program at start with a message on standard error
// (and in a box when there is no console) and exit code 2.
#pragma once

#include "device/device_syscalls.h"
#include "sim/sim_bus.h"

namespace sim {

// Applies both variables to `converter` and returns `syscalls` with the
// write entry wrapped to save the state when ZYR_SIM_STATE is set.
DeviceSyscalls ApplyDemoEnvironment(SimDevice &converter, DeviceSyscalls syscalls);

}  // namespace sim
