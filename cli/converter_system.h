// The converter as this system reaches it, for zyrctl's device steps: the
// lock that keeps other ZYR programs off it, and a port on it. One file per
// system binds these: converter_system_win32.cpp here, the Linux one in
// linux/. The steps themselves (converter_session.cpp) are the same on both.
#pragma once

#include "cli/exit_codes.h"
#include "protocol/report_transport.h"

#include <memory>
#include <string>

// takenOver: taken from a program that ended without letting it go.
enum class CommandLockTake { taken, takenOver, busy, failed };

// Takes the converter lock for the command, waiting at most `waitMs` in
// slices and ending early when `stop` (if given) returns true; a stop counts
// as busy. Taken again while held: taken.
CommandLockTake TakeCommandLock(unsigned long waitMs, bool (*stop)());
bool CommandLockHeld();
void ReleaseCommandLock();
// The system's error code after a take that failed.
unsigned long CommandLockError();

// A port on the converter for one device operation, with what the
// operation needs around it; closed on every path when it ends.
class ConverterPort {
public:
    virtual ~ConverterPort() = default;
    virtual ReportTransport &Transport() = 0;
};
std::unique_ptr<ConverterPort> MakeConverterPort();

// Finds the converter and opens `port` on it, naming its device in
// `devicePath`; otherwise the cause, for the user.
Outcome OpenConverterPort(ConverterPort &port, std::string &devicePath);

// The register protocol's messages of this process go to `keep`.
void SendProtocolMessagesTo(ProtocolMessageSink keep);

// Shared by the systems' files (converter_session.cpp): what zyrctl says
// when no converter is attached, and the protocol's last message.
std::string NoConverterText();
const std::string &LastProtocolMessage();
