#include "web/webhid_transport.h"

#include "protocol/converter_identity.h"

#include <emscripten.h>

#include <cstdlib>
#include <string>

// Module.zyrHid is the page's HidPort (page/hid_port.js). HEAPU8 is looked
// up after each await: the heap may have grown meanwhile.
EM_ASYNC_JS(int, zyr_hid_open, (), { return (await Module.zyrHid.open()) ? 1 : 0; });

EM_JS(char *, zyr_hid_last_error, (), { return allocateUTF8(Module.zyrHid.lastError || ""); });

EM_ASYNC_JS(int, zyr_hid_send, (const uint8_t *report, int length, int timeoutMs), {
    const bytes = HEAPU8.slice(report, report + length);
    return (await Module.zyrHid.send(bytes, timeoutMs)) ? 1 : 0;
});

EM_ASYNC_JS(int, zyr_hid_receive, (uint8_t * report, int length, int timeoutMs), {
    const got = await Module.zyrHid.receive(timeoutMs);
    if (!got)
        return -1;
    const count = Math.min(length, got.length);
    HEAPU8.set(got.subarray(0, count), report);
    return count;
});

EM_ASYNC_JS(int, zyr_hid_discard, (int waitMs), { return await Module.zyrHid.discard(waitMs); });

EM_ASYNC_JS(void, zyr_hid_close, (), { await Module.zyrHid.close(); });

bool WebHidTransport::Open()
{
    if (zyr_hid_open())
        return true;
    if (messages) {
        char *reason = zyr_hid_last_error();
        const std::string text =
            std::string("USB open failed") + (reason && *reason ? ": " : "") + (reason ? reason : "");
        free(reason);
        messages(text.c_str());
    }
    return false;
}

void WebHidTransport::Close() { zyr_hid_close(); }

size_t WebHidTransport::ReportLength() const { return converterReportPayload + 1u; }

bool WebHidTransport::Send(const uint8_t *report, size_t length)
{
    return zyr_hid_send(report, static_cast<int>(length), static_cast<int>(reportTimeoutMs)) != 0;
}

bool WebHidTransport::Receive(uint8_t *report, size_t length, unsigned waitMs)
{
    // Only a whole report is a reply: a shorter one would leave an earlier
    // reply's bytes in the rest of the buffer.
    return zyr_hid_receive(report, static_cast<int>(length), static_cast<int>(waitMs)) == static_cast<int>(length);
}

int WebHidTransport::DiscardQueued(unsigned waitMs) { return zyr_hid_discard(static_cast<int>(waitMs)); }

void WebHidTransport::Pause(unsigned ms) { emscripten_sleep(ms); }
