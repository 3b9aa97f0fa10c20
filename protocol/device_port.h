// The register protocol's transport on Windows: the converter's read and
// write handles, each report one overlapped transfer bounded in time.
#pragma once

#include "base/no_copy.h"
#include "protocol/register_calls.h"
#include "protocol/report_transfer.h"

#include <windows.h>
#include <cstdint>

// A port closes itself when it goes out of scope, so no path out of an
// operation leaves a handle open; the operations still close it where the
// protocol says, and a second close does nothing. Its messages go to the
// operation message sink (operation_messages.h).
struct DevicePort : ReportTransport, private NoCopy {
    HANDLE readHandle = INVALID_HANDLE_VALUE;
    HANDLE writeHandle = INVALID_HANDLE_VALUE;

    DevicePort();
    ~DevicePort() override;

    bool Open() override;
    void Close() override;
    size_t ReportLength() const override;
    bool Send(const uint8_t *report, size_t length) override;
    bool Receive(uint8_t *report, size_t length, unsigned waitMs) override;
    int DiscardQueued(unsigned waitMs) override;
    void EmptyQueue() override;
    void Pause(unsigned ms) override;

private:
    // A manual-reset event used by each transfer in turn.
    TransferEvent event;
};

bool OpenDevicePort(DevicePort &port);
// Closes what is open; nothing when the port is closed already.
void CloseDevicePort(DevicePort &port);
