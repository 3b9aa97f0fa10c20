#include "web/page_operations.h"

#include "config/default_images.h"
#include "protocol/operation_text.h"
#include "protocol/register_calls.h"
#include "settings/image_guards.h"
#include "web/page_session.h"
#include "web/webhid_transport.h"

#include <emscripten.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

EM_JS(void, zyr_page_status, (const char *text), { Module.zyrStatus(UTF8ToString(text)); });

namespace {

// Where an operation stopped, as the dialog numbers it.
constexpr int readVersionFailed = 497;  // then 498 type, 499 the word at 255
constexpr int readRegisterFailed = 510;
constexpr int writeVersionFailed = 413;  // then 414 type, 415 the word at 255
constexpr int writeRegisterFailed = 426;
constexpr int formatRegisterFailed = 461;

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

// 0, or 1 to 3 for the word that failed: version (1), type (3), 255.
int ReadIdentityWords(ReportTransport &port, uint16_t &version, uint16_t &type)
{
    uint16_t unused = 0;
    const uint8_t addresses[3] = {layout::firmwareVersion, layout::firmwareType, 255};
    uint16_t *words[3] = {&version, &type, &unused};
    for (int i = 0; i < 3; ++i)
        if (!ReadRegisterWord(port, addresses[i], *words[i]))
            return i + 1;
    return 0;
}

// Progress of a loop over `addresses`: the dialog's tenths by address when
// the loop runs to register 255 in order, else by the share done.
class LoopProgress {
public:
    LoopProgress(const std::vector<uint8_t> &addresses, const char *format)
        : format(format),
          byAddress(!addresses.empty() && addresses.back() == 255 && addresses.size() == 256u - addresses.front()),
          total(addresses.size())
    {}

    void Done(size_t index, uint8_t address)
    {
        const uint8_t at = byAddress ? address : static_cast<uint8_t>((256 * (index + 1)) / total - 1);
        if (int percent = counter.Advance(at))
            StatusText(Printed(format, percent).c_str());
    }

private:
    const char *format;
    bool byAddress;
    size_t total;
    ProgressCounter counter;
};

std::vector<uint8_t> AddressesFrom(int first)
{
    std::vector<uint8_t> addresses;
    for (int address = first; address < 256; ++address)
        addresses.push_back(static_cast<uint8_t>(address));
    return addresses;
}

// Reads every register into `image`; -1, or the address that failed.
int ReadAll(ReportTransport &port, RegisterImage &image, const char *progressFormat)
{
    const std::vector<uint8_t> addresses = AddressesFrom(0);
    LoopProgress progress(addresses, progressFormat);
    for (size_t i = 0; i < addresses.size(); ++i) {
        uint8_t value = 0;
        if (!ReadRegister(port, addresses[i], value))
            return addresses[i];
        image.SetByte(addresses[i], value);
        progress.Done(i, addresses[i]);
    }
    return -1;
}

// Writes the image's bytes at `addresses`, each verified by the protocol's
// read-back; each one verified is noted in `converter`. -1, or the address
// that failed.
int WriteAll(ReportTransport &port, const RegisterImage &image, const std::vector<uint8_t> &addresses,
             const char *progressFormat, RegisterImage &converter, size_t &written)
{
    LoopProgress progress(addresses, progressFormat);
    written = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const uint8_t at = addresses[i];
        if (!WriteRegister(port, at, image.Byte(at)))
            return at;
        converter.SetByte(at, image.Byte(at));
        ++written;
        progress.Done(i, at);
    }
    return -1;
}

std::string AddressList(const std::vector<uint8_t> &addresses)
{
    std::string text;
    for (uint8_t address : addresses)
        text += (text.empty() ? "" : ", ") + std::to_string(address);
    return text;
}

}  // namespace

OperationOutcome ReadOperation()
{
    session.highToLowUnlocked = session.helpPressCount == 4;
    session.helpPressCount = 0;
    session.haveConverter = false;
    StatusText("Reading Device Data...");

    OperationPort port;
    if (!OpenPort(port))
        return Done(false, "USB device open failed");
    uint16_t version = 0, type = 0;
    if (int failed = ReadIdentityWords(port, version, type))
        return Done(false, Printed("READ ERROR L%d", readVersionFailed - 1 + failed));
    if (!AcceptedFirmwareVersion(version))
        return Done(false, Printed("Wrong firmware version;  0x%X", version));
    if (!AcceptedFirmwareType(type))
        return Done(false, Printed("Wrong firmware type;  0x%X", type));

    RegisterImage image;
    image.Erase();
    if (ReadAll(port, image, "Reading Device Data... %d%%") >= 0)
        return Done(false, Printed("READ ERROR L%d", readRegisterFailed));
    port.Close();

    session.converter = image;
    session.edited = image;
    session.haveConverter = true;
    char versionText[8];
    FormatFirmwareVersion(version, versionText, sizeof versionText);
    return Done(true, Printed("Read OK        Ver:%s        Device:%s", versionText, DeviceKindName(type)));
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

    OperationPort port;
    if (!OpenPort(port))
        return Done(false, "USB device open failed; nothing was written");
    uint16_t version = 0, type = 0;
    if (int failed = ReadIdentityWords(port, version, type))
        return Done(false, Printed("WRITE ERROR L%d; nothing was written", writeVersionFailed - 1 + failed));
    // Registers 0 to 4 are never written: the image must belong to this
    // converter's firmware before anything is sent.
    if (target.FirmwareVersion() != version || target.FirmwareType() != type)
        return Done(false, Printed("Wrong firmware version;  MEM:0x%X-0x%X  DEV:0x%X-0x%X; nothing was written",
                                   target.FirmwareVersion(), target.FirmwareType(), version, type));

    size_t written = 0;
    const int failedAt = WriteAll(port, target, addresses, "Writing Device Data... %d%%", session.converter, written);
    if (failedAt >= 0)
        return Done(false, Printed("WRITE ERROR L%d        register %d failed after %zu of %zu were written and "
                                   "verified: the converter may be partly written; read it again",
                                   writeRegisterFailed, failedAt, written, addresses.size()));

    // Every register read back, also those not written: what the converter
    // holds now is what the page shows as its state.
    RegisterImage after;
    after.Erase();
    if (int failed = ReadAll(port, after, "Reading back... %d%%"); failed >= 0)
        return Done(false, Printed("Written and verified register by register, but reading all back failed at "
                                   "register %d; read the converter again",
                                   failed));
    port.Close();
    session.converter = after;
    std::vector<uint8_t> differing;
    for (unsigned at = layout::firstWritableRegister; at < imageSize; ++at)
        if (after.bytes[at] != target.bytes[at])
            differing.push_back(static_cast<uint8_t>(at));
    if (!differing.empty())
        return Done(false, "The converter read back differs from what was written at register" +
                               std::string(differing.size() == 1 ? " " : "s ") + AddressList(differing));
    return Done(true, Printed("Device Write OK        %zu register%s written, all 256 read back", addresses.size(),
                              addresses.size() == 1 ? "" : "s"));
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
    RegisterImage converter = session.converter;
    size_t written = 0;
    if (WriteAll(port, image, AddressesFrom(0), "Formatting Device... %d%%", converter, written) >= 0) {
        session.haveConverter = false;  // partly formatted: only a new read tells what it holds
        return Done(false, Printed("WRITE ERROR L%d", formatRegisterFailed));
    }
    port.Close();
    session.converter = image;
    session.edited = image;
    session.haveConverter = true;
    return Done(true, "Device Format Complete");
}
