// The exit codes of zyrctl, the same for every command, and the outcome
// each step hands back: a code and, unless it is success, the cause in words.
#pragma once

#include "base/result.h"

#include <string>

enum ExitCode {
    exitOk = 0,
    exitDevice = 1,  // not found, open failed, firmware or type not served, a register error,
    // a read-back that differs
    exitUsage = 2,
    exitFile = 3,  // missing, unreadable or damaged
    exitRefused = 4,  // refused by a guard (nothing written); a correction out of range
    exitDifferences = 5,  // diff found differences
    exitNoAccess = 6,  // Linux: no permission to open the converter's device node (the udev rule)
};

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
