#include "protocol/converter_access.h"

#include "protocol/converter_identity.h"
#include "device/device_syscalls.h"
#include "device/hid_com.h"

namespace {
constexpr DWORD pauseAfterOpenMs = 5;
}  // namespace

FineTimerResolution::FineTimerResolution() : active(Sys().TimeBeginPeriod(1) == 0 /* TIMERR_NOERROR */) {}

FineTimerResolution::~FineTimerResolution()
{
    if (active)
        Sys().TimeEndPeriod(1);
}

void MatchConverter()
{
    hidDevice.SetMatch(converterVendorId, converterProductId, converterReleaseNumber, converterReportPayload,
                       converterReportPayload, converterManufacturer, converterProduct);
}

ConverterOpen OpenConverter(DevicePort &port)
{
    MatchConverter();
    if (!hidDevice.FindDevice())
        return ConverterOpen::notFound;
    if (!OpenDevicePort(port))
        return ConverterOpen::openFailed;
    Sys().Sleep(pauseAfterOpenMs);
    return ConverterOpen::opened;
}
