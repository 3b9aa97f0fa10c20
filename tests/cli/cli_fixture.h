// zyrctl run in-process with argv of its own over the simulated bus, one
// converter fresh from the factory on it, in a folder of its own that is
// also the current folder (where set puts its pre-write backup).
#pragma once

#include "config/config_image.h"
#include "sim/sim_bus.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/temp_folder.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CliRun {
    int code = -1;
    std::string out, err;
};

using Registers = std::array<uint8_t, 256>;

struct CliFixture : SimFixture {
    CliFixture();
    ~CliFixture();

    // Runs "zyrctl <args>"; `console` says whether standard input is a
    // console, `answer` what a person types there. `whileAsked`, when
    // given, runs as zyrctl first reads standard input, before the answer.
    CliRun Run(const std::vector<std::string> &args, bool console = false, const std::string &answer = "",
               const std::function<void()> &whileAsked = nullptr);
    // Runs "zyrctl <args>" and checks that it ends with `code` and says
    // each of `says` (on standard output, or on standard error).
    CliRun RunAndCheck(const std::vector<std::string> &args, int code, const std::vector<std::string> &says);

    // Names are UTF-8 here, as zyrctl keeps them, and may be of any length.
    std::string Path(const std::string &name) const { return folder + name; }
    // A folder below this one, with the folders above it ("a\\b"): its
    // full path, ending with a backslash.
    std::string MakeFolder(const std::string &relative) const;
    void WriteText(const std::string &name, const std::string &text) const;
    std::string ReadText(const std::string &path) const;
    // Files in the folder `in` (this one when empty) whose names start with `prefix`.
    std::vector<std::string> FilesStartingWith(const std::string &prefix, const std::string &in = "") const;
    // Every file below this folder as Linux names it, relative, "/" between
    // folders: the bytes the file system holds, not Wine's reading of them.
    std::vector<std::string> LinuxFiles() const;
    // A backup file of these registers, as zyrctl writes one.
    void WriteBackup(const std::string &name, const Registers &registers) const;
    // A backup file of the converter's registers with one of them changed;
    // returns the registers it holds.
    Registers WriteChangedBackup(const std::string &name, int address, uint8_t value) const;

    // Addresses of the write requests on the wire since the traffic was cleared.
    std::vector<int> WrittenAddresses() const;

    sim::SimDevice &converter;
    TempFolder temp;
    std::string folder;  // temp's path, ending with a backslash
    bool errorIsConsole = false;  // what zyrctl is told about standard error

private:
    std::string previousFolder;
};

// The arguments as one line, a space after each: a case's name.
std::string ArgumentLine(const std::vector<std::string> &args);
RegisterImage ImageOf(const Registers &registers);
Registers RegistersOf(const RegisterImage &image);
// The registers that differ, ascending.
std::vector<int> Differing(const Registers &a, const Registers &b);
