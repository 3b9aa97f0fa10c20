// The converter's identity set on a hid_com, for the device tests.
#pragma once

#include "device/hid_com.h"
#include "protocol/converter_identity.h"

// The converter's identity, as the device operations set it.
inline void MatchConverter(hid_com &device = hidDevice)
{
    device.SetMatch(converterVendorId, converterProductId, converterReleaseNumber, converterReportPayload,
                    converterReportPayload, converterManufacturer, converterProduct);
}
