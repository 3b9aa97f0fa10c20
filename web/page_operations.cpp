#include "web/page_operations.h"

#include "config/default_images.h"
#include "protocol/operation_text.h"
#include "protocol/register_operations.h"
#include "settings/image_guards.h"
#include "settings/settings_view.h"
#include "web/page_session.h"
#include "web/webhid_transport.h"

#include <emscripten.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

EM_JS(void, zyr_page_status, (const char *text), { Module.zyrStatus(UTF8ToString(text)); });

namespace {

constexpr unsigned pauseAfterOpenMs = 5;

void StatusText(const char *text) { zyr_page_status(text); }

std::string Printed(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Printed(const char *format, ...)
{
    char text[300] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

OperationOutcome Done(bool ok, const std::string &text)
{
    StatusText(text.c_str());
    return {ok, text};
}

// The port of one operation: closed on every path out.
struct OperationPort : WebHidTransport {
    OperationPort() { messages = StatusText; }
    ~OperationPort() override { Close(); }
};

bool OpenPort(OperationPort &port)
{
    if (!port.Open())
        return false;
    port.Pause(pauseAfterOpenMs);
    return true;
}

// Progress of a loop over `addresses`, in the dialog's tenths: by address
// when the loop runs in order to register 255 (a write from 5 counts 0 to 4
// as done, as the dialog's does), else by the share of the list done.
RegisterDone Progress(const std::vector<uint8_t> &addresses, const char *format)
{
    const bool byAddress =
        !addresses.empty() && addresses.back() == 255 && addresses.size() == 256u - addresses.front();
    auto counter = std::make_shared<ProgressCounter>();
    auto done = std::make_shared<size_t>(0);
    const size_t total = addresses.size();
    return [=](uint8_t address) {
        ++*done;
        const uint8_t at = byAddress ? address : static_cast<uint8_t>((256 * *done) / total - 1);
        if (int percent = counter->Advance(at))
            StatusText(Printed(format, percent).c_str());
    };
}

// How an operation that reads the converter's identity words first ends
// when those steps fail: the text for a port that cannot be opened, and
// the "READ ERROR L%d"-like text with the location of the first word.
struct IdentitySteps {
    const char *openFailed;
    const char *wordFailed;
    int versionFailed;
};

// Runs `operation` on an opened port, with the identity words read first
// and handed to it; the steps' failure ends the operation before it runs.
template <class Operation> OperationOutcome OnIdentifiedConverter(const IdentitySteps &steps, Operation operation)
{
    OperationPort port;
    if (!OpenPort(port))
        return Done(false, steps.openFailed);
    uint16_t version = 0, type = 0;
    if (int failed = ReadIdentityWords(port, version, type))
        return Done(false, Printed(steps.wordFailed, steps.versionFailed - 1 + failed));
    return operation(port, version, type);
}

// All 256 registers as read into an erased image; when the read stopped
// short, the address it stopped at.
struct ImageRead {
    RegisterImage image;
    bool complete = false;
    int failedAddress = -1;
};

// Reads the converter's registers with progress in `progressFormat`.
ImageRead ReadImage(OperationPort &port, const char *progressFormat)
{
    ImageRead read;
    read.image.Erase();
    read.complete = ReadAllRegisters(port, read.image, Progress(AddressesFrom(0), progressFormat), read.failedAddress);
    return read;
}

// The converter holds `image`, and the page edits it from there.
void HoldConverter(const RegisterImage &image)
{
    session.converter = image;
    session.edited = image;
    session.haveConverter = true;
}

}  // namespace

OperationOutcome ReadOperation()
{
    session.highToLowUnlocked = session.helpPressCount == 4;
    session.helpPressCount = 0;
    session.haveConverter = false;
    StatusText("Reading Device Data...");

    const IdentitySteps steps{"USB device open failed", "READ ERROR L%d", readVersionFailed};
    return OnIdentifiedConverter(steps, [](OperationPort &port, uint16_t version, uint16_t type) {
        if (!AcceptedFirmwareVersion(version))
            return Done(false, Printed("Wrong firmware version;  0x%X", version));
        if (!AcceptedFirmwareType(type))
            return Done(false, Printed("Wrong firmware type;  0x%X", type));

        const ImageRead read = ReadImage(port, "Reading Device Data... %d%%");
        if (!read.complete)
            return Done(false, Printed("READ ERROR L%d", readRegisterFailed));
        port.Close();

        HoldConverter(read.image);
        char versionText[8];
        FormatFirmwareVersion(version, versionText, sizeof versionText);
        return Done(true, Printed("Read OK        Ver:%s        Device:%s", versionText, DeviceKindName(type)));
    });
}

OperationOutcome WriteOperation(bool all)
{
    if (!session.haveConverter)
        return Done(false, "Read the converter first; nothing was written");
    const RegisterImage target = session.edited;
    const std::vector<uint8_t> addresses = RegistersToWrite(session.converter, target, all);
    if (addresses.empty())
        return Done(true, "Nothing to write: the converter already holds these settings");
    StatusText("Writing Device Data...");

    const IdentitySteps steps{"USB device open failed; nothing was written", "WRITE ERROR L%d; nothing was written",
                              writeVersionFailed};
    return OnIdentifiedConverter(steps, [&](OperationPort &port, uint16_t version, uint16_t type) {
        // Registers 0 to 4 are never written: the image must belong to this
        // converter's firmware before anything is sent.
        if (target.FirmwareVersion() != version || target.FirmwareType() != type)
            return Done(false, Printed("Wrong firmware version;  MEM:0x%X-0x%X  DEV:0x%X-0x%X; nothing was written",
                                       target.FirmwareVersion(), target.FirmwareType(), version, type));

        // Each register the protocol has read back is the converter's own
        // answer, and noted as such.
        size_t written = 0;
        const RegisterDone progress = Progress(addresses, "Writing Device Data... %d%%");
        int failedAt = -1;
        const bool wrote = WriteImageRegisters(
            port, target, addresses,
            [&](uint8_t at) {
                session.converter.SetByte(at, target.Byte(at));
                ++written;
                progress(at);
            },
            failedAt);
        if (!wrote)
            return Done(false, Printed("WRITE ERROR L%d        register %d failed after %zu of %zu were written and "
                                       "verified: the converter may be partly written; read it again",
                                       writeRegisterFailed, failedAt, written, addresses.size()));

        // Every register read back, also those not written: what the
        // converter holds now is what the page shows as its state.
        const ImageRead after = ReadImage(port, "Reading back... %d%%");
        if (!after.complete)
            return Done(false, Printed("Written and verified register by register, but reading all back failed at "
                                       "register %d; read the converter again",
                                       after.failedAddress));
        port.Close();
        session.converter = after.image;
        // Any writable register the converter holds otherwise would still need writing.
        const std::vector<uint8_t> differing = RegistersToWrite(after.image, target, false);
        if (!differing.empty())
            return Done(false, "The converter read back differs from what was written at " + RegistersText(differing));
        return Done(true, Printed("Device Write OK        %zu register%s written, all 256 read back", addresses.size(),
                                  addresses.size() == 1 ? "" : "s"));
    });
}

OperationOutcome FormatOperation(bool hasEct, bool blackConnector)
{
    const DefaultImage defaults = FormatDefaultImage(hasEct, blackConnector);
    RegisterImage image;
    image.LoadPrefix(defaults.bytes, defaults.length);
    session.edited = image;
    StatusText("Formatting Device...");

    OperationPort port;
    if (!OpenPort(port))
        return Done(false, "USB device open failed");
    const std::vector<uint8_t> addresses = AddressesFrom(0);
    int failedAt = -1;
    if (!WriteImageRegisters(port, image, addresses, Progress(addresses, "Formatting Device... %d%%"), failedAt)) {
        session.haveConverter = false;  // partly formatted: only a new read tells what it holds
        return Done(false, Printed("WRITE ERROR L%d", formatRegisterFailed));
    }
    port.Close();
    HoldConverter(image);
    return Done(true, "Device Format Complete");
}
