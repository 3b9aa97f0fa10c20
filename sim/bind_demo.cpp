// The demo: the device boundary on a simulated bus holding one converter
// fresh from the factory, in real time at about a millisecond per report,
// so the program can be tried without the hardware. ZYR_SIM_STATE and
// ZYR_SIM_FAULT (sim_demo_environment.h) keep its registers in a file and
// inject faults.
#include "device/device_syscalls.h"
#include "sim/sim_bus.h"
#include "sim/sim_demo_environment.h"

DeviceSyscalls BindDeviceSyscalls()
{
    // Runs during static initialisation (the global device object binds the
    // table first); the bus is a function-local static, ready by now.
    sim::SimBus &bus = sim::SimBus::Instance();
    sim::SimDevice &converter = bus.AddConverter();
    bus.SetRealTime(true, 1000);
    return sim::ApplyDemoEnvironment(converter, sim::BusSyscalls());
}
