// How close the device operations come to the pace the protocol allows.
//
// Read Device, Write Device and Format Device run against the simulated
// converter with 1 ms per report on the wire. For each, the wall time is
// set against its floor: the pauses the protocol mandates plus the modelled
// frames. Then the host's own cost: CPU time per register exchange against
// a converter that answers without latency (virtual time).
//
// No dialog is needed: with no main dialog the status line and the control
// refresh do nothing, and the write takes the image as it stands.
#include "bench/bench_floor.h"
#include "config/config_image.h"
#include "device/hid_com.h"
#include "protocol/converter_access.h"
#include "protocol/device_operations.h"
#include "protocol/device_port.h"
#include "sim/sim_bus.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace bench;

double ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

}  // namespace

int main()
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.Reset();
    bus.AddConverter();
    bus.SetRealTime(true, static_cast<unsigned>(frameMs * 1000));

    const int runs = 3;
    OperationTimes times;
    if (!MeasureOperations(runs, times)) {
        std::printf("an operation failed against the simulated converter\n");
        return 1;
    }
    std::printf("Device operations, 1 ms per report on the wire (best of %d):\n", runs);
    ReportOperations("", 14, times);

    // The host's own cost per exchange, the converter answering at once.
    bus.SetRealTime(false);
    MatchConverter();
    DevicePort port;
    if (!hidDevice.FindDevice() || !OpenDevicePort(port)) {
        std::printf("the simulated converter could not be opened\n");
        return 1;
    }
    const int exchanges = 200 * 256;
    const double cpuStart = ProcessCpuMs();
    const double wallStart = NowMs();
    for (int i = 0; i < exchanges; ++i) {
        uint8_t value;
        if (!ReadRegister(port, static_cast<uint8_t>(i), value)) {
            std::printf("a register read failed\n");
            CloseDevicePort(port);
            return 1;
        }
    }
    const double wall = NowMs() - wallStart;
    const double cpu = ProcessCpuMs() - cpuStart;
    CloseDevicePort(port);
    std::printf("Register exchange, zero-latency converter (%d exchanges): CPU %.1f us, wall %.1f us each\n", exchanges,
                cpu * 1000.0 / exchanges, wall * 1000.0 / exchanges);
    return 0;
}
