#include "linux/hidraw_transport.h"

#include "base/converter_wire.h"
#include "config/hex_text.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace {

TransportTraceHook traceHook = nullptr;

void Trace(const char *what, const std::string &detail)
{
    if (traceHook)
        traceHook(what, detail);
}

}  // namespace

void SetTransportTraceHook(TransportTraceHook hook) { traceHook = hook; }

HidrawTransport::~HidrawTransport() { Close(); }

bool HidrawTransport::Open()
{
    Close();  // never lose a handle that is still open
    errno = 0;
    device = hid_open_path(path.c_str());
    if (!device) {
        const int error = errno;
        Trace("open",
              "read+write  " + path + "  failed" + (error ? std::string(" (") + std::strerror(error) + ")" : ""));
        if (messages)
            messages(error ? (std::string("USB open failed: ") + std::strerror(error)).c_str() : "USB open failed");
        return false;
    }
    Trace("open", "read+write  " + path);
    return true;
}

void HidrawTransport::Close()
{
    if (!device)
        return;
    hid_close(device);
    device = nullptr;
    Trace("close", "read+write");
}

size_t HidrawTransport::ReportLength() const { return ZYR_REPORT_LENGTH; }

bool HidrawTransport::Send(const uint8_t *report, size_t length)
{
    if (!device)
        return false;
    // hidraw takes the report-ID byte first and sends the payload after it.
    const int sent = hid_write(device, report, length);
    if (sent <= 0) {
        Trace("out", std::string("failed (") + std::strerror(errno) + ")");
        return false;
    }
    Trace("out", HexBytes(report, length));
    return true;
}

bool HidrawTransport::Receive(uint8_t *report, size_t length, unsigned waitMs)
{
    if (!device || length < 2)
        return false;
    // A signal (Ctrl+C asks for a cut-off) does not end the wait: the
    // exchange on the wire completes, and the cut-off comes at the next
    // register, as on Windows.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    int got = 0;
    for (int left = static_cast<int>(waitMs);;) {
        errno = 0;
        got = hid_read_timeout(device, report + 1, length - 1, left);
        if (got >= 0 || errno != EINTR)
            break;
        left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            got = 0;
            break;
        }
    }
    if (got <= 0) {
        Trace("in", got == 0 ? std::string("cancelled: no answer in time")
                             : std::string("failed (") + std::strerror(errno) + ")");
        return false;
    }
    report[0] = 0;  // the report-ID byte hidraw leaves out of an unnumbered report
    Trace("in", HexBytes(report, static_cast<size_t>(got) + 1));
    // A short report would leave bytes of an earlier reply in the buffer.
    if (static_cast<size_t>(got) + 1 < length) {
        Trace("in", "failed: " + std::to_string(got + 1) + " bytes, short of the report");
        return false;
    }
    return true;
}

int HidrawTransport::DiscardQueued(unsigned waitMs)
{
    // Never more than a hidraw queue holds, so a device that floods the
    // node cannot keep the caller here.
    constexpr int mostQueued = 64;
    if (!device)
        return 0;
    uint8_t scratch[256];
    int discarded = 0;
    while (discarded < mostQueued && hid_read_timeout(device, scratch, sizeof scratch, static_cast<int>(waitMs)) > 0)
        ++discarded;
    return discarded;
}

void HidrawTransport::Pause(unsigned ms)
{
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
