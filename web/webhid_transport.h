// The converter's reports over WebHID, for the register protocol: each call
// looks synchronous to C++ and awaits the browser's promise underneath
// (Asyncify unwinds the WebAssembly stack while it waits, so the page stays
// responsive). The device itself is chosen and held by the page
// (page/hid_port.js).
#pragma once

#include "protocol/report_transport.h"

class WebHidTransport : public ReportTransport {
public:
    // Opens the converter the page holds; false, with "USB open failed" and
    // the browser's reason as the message, when there is none or the
    // browser refuses.
    bool Open() override;
    void Close() override;
    size_t ReportLength() const override;
    bool Send(const uint8_t *report, size_t length) override;
    bool Receive(uint8_t *report, size_t length, unsigned waitMs) override;
    int DiscardQueued(unsigned waitMs) override;
    void Pause(unsigned ms) override;
};
