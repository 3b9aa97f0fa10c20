#include "sim/sim_demo_environment.h"

#include "cli/text_files.h"
#include "cli/wide_names.h"
#include "sim/sim_fault_text.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace sim {

namespace {

static_assert(static_cast<int>(DemoFaultKind::SendFails) == FaultRule::SendFails, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::SendZero) == FaultRule::SendZero, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::ReceiveFails) == FaultRule::ReceiveFails, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::ReceiveZero) == FaultRule::ReceiveZero, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::WrongReadBack) == FaultRule::WrongReadBack, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::NoReply) == FaultRule::NoReply, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::LateReply) == FaultRule::LateReply, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::Unplug) == FaultRule::Unplug, "kinds in step");

using Registers = std::array<uint8_t, 256>;

struct StateFile {
    std::string path;  // UTF-8, for the messages
    std::wstring name;  // for the wide file functions
    SimDevice *converter = nullptr;
    decltype(DeviceSyscalls::WriteFile) busWriteFile = nullptr;
    std::mutex saving;  // writes may come from more than one thread
    Registers saved{};  // what the file holds
    bool failureSaid = false;
};

StateFile &State()
{
    static StateFile state;
    return state;
}

// Whether this program is a windowed one, whose standard error nobody may see.
bool WindowedProgram()
{
    const auto *base = reinterpret_cast<const uint8_t *>(GetModuleHandleA(nullptr));
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

// A UTF-8 line on standard error: shown wide on a console, the bytes as
// they are into a file or a pipe.
void SayOnStandardError(const std::string &line)
{
    std::fflush(stderr);
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Utf16FromUtf8(line);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else if (handle && handle != INVALID_HANDLE_VALUE) {
        WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

[[noreturn]] void Refuse(const std::string &message)
{
    SayOnStandardError(message + "\n");
    if (WindowedProgram())
        MessageBoxW(nullptr, Utf16FromUtf8(message).c_str(), L"ZYR demo", MB_OK | MB_ICONERROR);
    ExitProcess(2);
}

// Read wide: the narrow environment holds only what the ANSI code page can
// spell. Empty when the variable is not set.
std::wstring WideEnvironmentVariable(const wchar_t *name)
{
    std::wstring value(256, L'\0');
    DWORD length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
    if (length >= value.size()) {
        value.assign(length, L'\0');
        length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
    }
    if (length == 0 || length >= value.size())
        return std::wstring();
    value.resize(length);
    return value;
}

// Written whole to a temporary file, then renamed over the old one, so a
// program reading it at the same moment sees one state or the other. On
// failure the temporary is gone and the old file, if any, is as it was.
bool SaveState(const std::string &path, const Registers &values)
{
    unsigned char registers[256];
    for (int i = 0; i < 256; ++i)
        registers[i] = values[i];
    return WriteFileAtomically(path, FormatSimState(registers), true, false).Ok();
}

// Saves after any request, accepted or pending, that changed the registers:
// the converter itself says what a request did, so nothing is decoded here.
BOOL WINAPI WriteFileSavingState(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped)
{
    StateFile &state = State();
    const BOOL done = state.busWriteFile(file, buffer, length, written, overlapped);
    const DWORD error = GetLastError();
    if (done || error == ERROR_IO_PENDING) {
        std::lock_guard<std::mutex> hold(state.saving);
        const Registers now = state.converter->Registers();
        if (now != state.saved) {
            if (SaveState(state.path, now)) {
                state.saved = now;
            } else if (!state.failureSaid) {
                // The write reached the simulated converter but not the file.
                SayOnStandardError("ZYR_SIM_STATE=" + state.path +
                                   ": the converter's registers could not be "
                                   "saved; the file may not keep what this run writes\n");
                state.failureSaid = true;
            }
        }
        SetLastError(error);
    }
    return done;
}

// An absent file is created with the factory-fresh registers, so a path
// that cannot be written is refused at start, not at the first write.
void LoadState(StateFile &state)
{
    const std::string prefix = "ZYR_SIM_STATE=" + state.path + ": ";
    const DWORD attributes = GetFileAttributesW(state.name.c_str());
    const DWORD lookup = GetLastError();
    if (attributes == INVALID_FILE_ATTRIBUTES && (lookup == ERROR_FILE_NOT_FOUND || lookup == ERROR_PATH_NOT_FOUND)) {
        state.saved = state.converter->Registers();
        if (!SaveState(state.path, state.saved))
            Refuse(prefix + "there is no such file and it cannot be created");
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        Refuse(prefix + "that is a folder, not a state file");
    // Far beyond a state file past a megabyte: refused before it is read.
    std::string text;
    if (!ReadTextFile(state.path, 1024 * 1024, text).Ok())
        Refuse(prefix + "the file exists but cannot be read");
    unsigned char registers[256];
    const Result parsed = ParseSimState(text, registers);
    if (!parsed)
        Refuse(prefix + parsed.Message());
    for (int i = 0; i < 256; ++i)
        state.saved[i] = registers[i];
    state.converter->SetRegisters(state.saved);
}

}  // namespace

DeviceSyscalls ApplyDemoEnvironment(SimDevice &converter, DeviceSyscalls syscalls)
{
    if (const char *faultText = std::getenv("ZYR_SIM_FAULT")) {
        std::vector<DemoFault> faults;
        const Result parsed = ParseDemoFaults(faultText, faults);
        if (!parsed)
            Refuse(parsed.Message());
        for (const DemoFault &fault : faults) {
            FaultRule rule;
            rule.kind = static_cast<FaultRule::Kind>(fault.kind);
            rule.command = fault.command;
            rule.address = fault.address;
            rule.skip = fault.skip;
            rule.times = fault.times;
            rule.replyAfterMs = fault.replyAfterMs;
            converter.AddFault(rule);
        }
    }
    const std::wstring path = WideEnvironmentVariable(L"ZYR_SIM_STATE");
    if (!path.empty()) {
        StateFile &state = State();
        state.path = Utf8FromUtf16(path);
        state.name = FileSystemName(state.path);
        state.converter = &converter;
        LoadState(state);
        state.busWriteFile = syscalls.WriteFile;
        syscalls.WriteFile = WriteFileSavingState;
    }
    return syscalls;
}

}  // namespace sim
