// zyrctl's device steps, over the same core as the dialog's Read Device and
// Write Device (protocol/converter_access.h): each opens its own port and
// closes it on every path, and a failure comes back as an Outcome whose
// message names the step, the register address and the stage in words.
#pragma once

#include "cli/exit_codes.h"
#include "config/config_image.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct ConverterReading {
    std::string devicePath;
    uint16_t version = 0;
    uint16_t type = 0;
    RegisterImage image;  // all 256 registers, after a full read
};

// How the device steps show progress: a bar on `err` when `bar` is true.
struct ProgressOutput {
    std::ostream &err;
    bool bar = false;
};

// Finds the converter and reads its identity words (version, type and the
// word at 255) without judging them.
Outcome ReadConverterIdentity(ConverterReading &reading);

// What Read Device does: the identity words, the same acceptance of the
// firmware version and type, then registers 0 to 255 in order.
Outcome ReadWholeConverter(ConverterReading &reading, const ProgressOutput &progress, const char *label);

// Reads the converter again and checks that it is the unit `read` came
// from, at the same path and holding the same 256 registers; exit 7 when it
// is not. Between a command's read and its write another converter can take
// the first one's place, the more so while a person answers a question.
Outcome CheckSameConverter(const ConverterReading &read, const ProgressOutput &progress);

// Writes `target`'s bytes at `addresses` (each verified by the protocol's
// read-back) after checking that the converter is still at the path `read`
// came from (exit 7) and, as Write Device does, that it has `target`'s
// firmware version and type. Registers 0 to 4 are refused here whatever the
// caller asks.
Outcome WriteConverterRegisters(const ConverterReading &read, const RegisterImage &target,
                                const std::vector<uint8_t> &addresses, const ProgressOutput &progress);

// One ZYR program at a time on the converter: a command takes the converter
// lock at its first open of the converter and holds it until
// ReleaseConverterLock at the command's end, across every read, question and
// write in between, so nothing changes the converter between what a guard
// judged and what is written. Another program's hold is waited for at most
// `waitMs` (a line on `note`, if given, says so while it waits); then the
// command fails with exit 1 and nothing sent. A lock whose holder ended
// without letting go is taken over, with a warning on `warning` (shown
// even when quiet): that program may have left the converter half-written.
constexpr double defaultLockWaitSeconds = 5;
void SetConverterLockWait(unsigned long waitMs, std::ostream *note, std::ostream &warning);
void ReleaseConverterLock();

// The register protocol's last message of this process ("USB open read
// failed"...), kept for the error reports; installed by zyrctl at start.
void KeepProtocolMessages();
