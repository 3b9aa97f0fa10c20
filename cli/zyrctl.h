// zyrctl's entry: the whole program behind main(), over the console it is
// given, so tests can run it in-process with argv of their own.
#pragma once

#include <istream>
#include <ostream>

#include "zyr_version.h"

// The version of the programs' version blocks.
constexpr const char *zyrctlVersion = ZYR_VERSION_STRING;

struct ZyrctlConsole {
    std::istream &in;
    std::ostream &out;
    std::ostream &err;
    bool inputIsConsole = false;  // a person can answer a question
    bool errorIsConsole = false;  // a progress bar can be drawn
};

// Runs one command line; returns the exit code (0 to 7).
int ZyrctlMain(int argc, const char *const *argv, const ZyrctlConsole &console);
