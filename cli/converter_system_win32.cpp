// The converter on Windows: the named-mutex lock, and a port of two
// overlapped handles found through SetupAPI (protocol/converter_access.h).
#include "cli/converter_system.h"

#include "device/hid_com.h"
#include "protocol/converter_access.h"
#include "protocol/converter_lock.h"
#include "protocol/operation_messages.h"

namespace {

ConverterLock commandLock;

// The protocol's 5 ms pauses need the fine timer for as long as the port
// is open: it is made first and ends last.
struct Win32ConverterPort : ConverterPort {
    ReportTransport &Transport() override { return port; }
    FineTimerResolution timer;
    DevicePort port;
};

}  // namespace

CommandLockTake TakeCommandLock(unsigned long waitMs, bool (*stop)())
{
    switch (commandLock.Take(waitMs, stop)) {
    case LockResult::taken:
        return CommandLockTake::taken;
    case LockResult::takenOver:
        return CommandLockTake::takenOver;
    case LockResult::busy:
        return CommandLockTake::busy;
    case LockResult::failed:
        break;
    }
    return CommandLockTake::failed;
}

bool CommandLockHeld() { return commandLock.Held(); }

void ReleaseCommandLock() { commandLock.Release(); }

unsigned long CommandLockError() { return commandLock.Error(); }

std::unique_ptr<ConverterPort> MakeConverterPort() { return std::make_unique<Win32ConverterPort>(); }

Outcome OpenConverterPort(ConverterPort &port, std::string &devicePath)
{
    switch (OpenConverter(static_cast<Win32ConverterPort &>(port).port)) {
    case ConverterOpen::opened:
        devicePath = hidDevice.devicePath ? hidDevice.devicePath : "";
        return Outcome::Success();
    case ConverterOpen::notFound:
        // Said apart: the cause is then this computer, not the converter's cable.
        if (!hidDevice.library.CanDiscover())
            return Outcome::Fail(exitDevice, "converter not found: the system's HID library (hid.dll) could not "
                                             "be loaded, so no USB HID device can be looked for");
        return Outcome::Fail(exitDevice, NoConverterText());
    case ConverterOpen::openFailed:
        break;
    }
    return Outcome::Fail(exitDevice, "the converter was found but could not be opened (" + LastProtocolMessage() +
                                         "); is another program using it?");
}

void SendProtocolMessagesTo(ProtocolMessageSink keep) { SetOperationMessageSink(keep); }
