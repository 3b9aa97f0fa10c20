// zyrctl's entry: the whole program behind main(), over the console it is
// given, so tests can run it in-process with argv of their own.
#pragma once

#include <istream>
#include <ostream>

// 1.2.3.1, as the dialog's version block.
constexpr const char *zyrctlVersion = "1.2.3";

struct ZyrctlConsole {
    std::istream &in;
    std::ostream &out;
    std::ostream &err;
    bool inputIsConsole = false;  // a person can answer a question
    bool errorIsConsole = false;  // a progress bar can be drawn
};

// Runs one command line; returns the exit code (0 to 5).
int ZyrctlMain(int argc, const char *const *argv, const ZyrctlConsole &console);
