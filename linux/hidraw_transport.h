// The register protocol's transport on Linux: the converter's hidraw node
// through hidapi's hidraw backend. The kernel frames reports differently
// from Windows: a write carries the report-ID byte first, as here, but a
// read of the converter's unnumbered input report gives the 8 payload bytes
// alone. This transport puts the report-ID byte (0) back in front, so the
// protocol sees every report as it sees it on Windows.
#pragma once

#include "base/no_copy.h"
#include "protocol/report_transport.h"

#include <string>

struct hid_device_;

class HidrawTransport : public ReportTransport, private NoCopy {
public:
    explicit HidrawTransport(std::string path = std::string()) : path(std::move(path)) {}
    ~HidrawTransport() override;

    // The node the next Open opens.
    void SetPath(const std::string &nodePath) { path = nodePath; }
    const std::string &Path() const { return path; }

    bool Open() override;
    void Close() override;
    size_t ReportLength() const override;
    bool Send(const uint8_t *report, size_t length) override;
    bool Receive(uint8_t *report, size_t length, unsigned waitMs) override;
    int DiscardQueued(unsigned waitMs) override;
    void Pause(unsigned ms) override;

private:
    std::string path;
    hid_device_ *device = nullptr;
};

// What a transport did, for zyrctl's --trace: "open", "close", "out" or
// "in", and the detail (the bytes in hex, the path, the failure). Null: off.
using TransportTraceHook = void (*)(const char *what, const std::string &detail);
void SetTransportTraceHook(TransportTraceHook hook);
