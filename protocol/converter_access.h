// The converter operations of the Windows programs: find the converter and
// open a port on it; reading and writing its registers is the portable
// core's (register_operations.h). Nothing here touches a window.
#pragma once

#include "base/no_copy.h"
#include "protocol/device_port.h"
#include "protocol/register_operations.h"

// The protocol's 5 ms pauses are only 5 ms when the system timer ticks
// every millisecond; its default tick is about 15.6 ms. Held for the
// length of one operation.
class FineTimerResolution : private NoCopy {
public:
    FineTimerResolution();
    ~FineTimerResolution();

private:
    bool active;
};

enum class ConverterOpen { opened, notFound, openFailed };

// The converter's identity (converter_identity.h) as the device's match.
void MatchConverter();

// MatchConverter, then finds it, opens the port and
// pauses 5 ms. On failure the port stays closed.
ConverterOpen OpenConverter(DevicePort &port);
