#include "sim/sim_demo_environment.h"

#include "sim/sim_fault_text.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace sim {

namespace {

static_assert(static_cast<int>(DemoFaultKind::SendFails) == FaultRule::SendFails, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::Unplug) == FaultRule::Unplug, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::NoReply) == FaultRule::NoReply, "kinds in step");
static_assert(static_cast<int>(DemoFaultKind::LateReply) == FaultRule::LateReply, "kinds in step");

struct StateFile {
    std::string path;
    SimDevice *converter = nullptr;
    decltype(DeviceSyscalls::WriteFile) busWriteFile = nullptr;
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

[[noreturn]] void Refuse(const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    if (WindowedProgram())
        MessageBoxA(nullptr, message.c_str(), "ZYR demo", MB_OK | MB_ICONERROR);
    ExitProcess(2);
}

// Written whole to a temporary file, then renamed over the old one, so a
// program reading it at the same moment sees one state or the other.
void SaveState()
{
    StateFile &state = State();
    unsigned char registers[256];
    const std::array<uint8_t, 256> values = state.converter->Registers();
    for (int i = 0; i < 256; ++i)
        registers[i] = values[i];
    const std::string temporary = state.path + ".saving";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << FormatSimState(registers);
        if (!out.flush())
            return;
    }
    MoveFileExA(temporary.c_str(), state.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

BOOL WINAPI WriteFileSavingState(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written,
                                 LPOVERLAPPED overlapped)
{
    const BOOL done = State().busWriteFile(file, buffer, length, written, overlapped);
    const DWORD error = GetLastError();
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    if (length >= 4 && bytes[1] == 1 /* write register */ && (done || error == ERROR_IO_PENDING)) {
        SaveState();
        SetLastError(error);
    }
    return done;
}

void LoadState(SimDevice &converter, const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;  // no state yet: the factory-fresh converter, saved at its first write
    std::stringstream text;
    text << in.rdbuf();
    unsigned char registers[256];
    std::string message;
    if (!ParseSimState(text.str(), registers, message))
        Refuse("ZYR_SIM_STATE=" + path + ": " + message);
    std::array<uint8_t, 256> values{};
    for (int i = 0; i < 256; ++i)
        values[i] = registers[i];
    converter.SetRegisters(values);
}

}  // namespace

DeviceSyscalls ApplyDemoEnvironment(SimDevice &converter, DeviceSyscalls syscalls)
{
    if (const char *faultText = std::getenv("ZYR_SIM_FAULT")) {
        std::vector<DemoFault> faults;
        std::string message;
        if (!ParseDemoFaults(faultText, faults, message))
            Refuse(message);
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
    const char *path = std::getenv("ZYR_SIM_STATE");
    if (path && *path) {
        LoadState(converter, path);
        StateFile &state = State();
        state.path = path;
        state.converter = &converter;
        state.busWriteFile = syscalls.WriteFile;
        syscalls.WriteFile = WriteFileSavingState;
    }
    return syscalls;
}

}  // namespace sim
