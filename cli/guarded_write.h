// The one way zyrctl writes a converter: shows what changes, asks or
// refuses, saves the converter's present registers to a backup first,
// writes only registers 5 to 255 (those that differ, or all with --all),
// then reads all 256 back and compares.
#pragma once

#include "cli/commands.h"

struct WriteRequest {
    const char *command;  // "restore", "set", "import": names the pre-write backup
    std::string backupFolder;  // where the pre-write backup goes ("" the current folder)
};

Outcome GuardedWrite(const CommandContext &context, const ConverterReading &device, const RegisterImage &target,
                     const WriteOptions &options, const WriteRequest &request);
