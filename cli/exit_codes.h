// The exit codes of zyrctl, the same for every command, and the outcome
// each step hands back: a code and, unless it is success, the cause in words.
#pragma once

#include "base/result.h"

#include <string>

enum ExitCode {
    exitOk = 0,
    exitDevice = 1,
    exitUsage = 2,
    exitFile = 3,
    exitRefused = 4,
    exitDifferences = 5,
    exitNoAccess = 6,  // Linux only: the converter's device node may not be opened
    exitOtherConverter = 7,
};

// The one table of the codes' names and meanings: zyrctl's help is made
// from it, and the manual's table (docs/zyrctl.md) is checked against it.
struct ExitCodeRow {
    ExitCode code;
    const char *name;
    const char *meaning;
};
inline constexpr ExitCodeRow exitCodeTable[] = {
    {exitOk, "ok", "success"},
    {exitDevice, "device",
     "device failure: not found, open failed, another ZYR program using the converter (nothing sent), a firmware "
     "or type not served, a register error, a read-back that differs"},
    {exitUsage, "usage", "usage error"},
    {exitFile, "file", "a file that is missing, unreadable or damaged, or output that could not be written"},
    {exitRefused, "refused", "refused by a guard: nothing was written, or a correction outside -25.0 to +25.0 %"},
    {exitDifferences, "differences", "diff found differences"},
    {exitOtherConverter, "other-converter",
     "the converter attached is not the one that was read (another took its place): nothing was written"},
};
// The code only zyrctl for Linux gives, where a device node's permissions
// can stand between the user and the converter; its help lists it after the
// table (docs/linux.md).
inline constexpr ExitCodeRow linuxExitCodeRow = {
    exitNoAccess, "no-access",
    "no permission to open the converter's device node: install the udev rule that comes with zyrctl"};

struct Outcome {
    int code = exitOk;
    std::string message;  // what went wrong, in words; empty on success

    bool Ok() const { return code == exitOk; }
    static Outcome Success() { return {}; }
    static Outcome Fail(int code, std::string message) { return {code, std::move(message)}; }
    // A portable step's result: success, or `code` with the step's words
    // between `before` and `after`, which place them in this command.
    static Outcome From(const Result &result, int code, const std::string &before = std::string(),
                        const std::string &after = std::string())
    {
        return result ? Success() : Fail(code, before + result.Message() + after);
    }
};
