// zyrvc.exe: installs the virtual converter into a Wine prefix (or Windows)
// and is its control channel, for tests and for people. Each command is one
// DeviceIoControl on the bus driver's control device \\.\ZyrVconv.
//
//   zyrvc install INF                 root bus device and both drivers
//   zyrvc status                      converters on the bus, pacing
//   zyrvc plug [SLOT] [IDENTITY] [IMAGE | FILE | keep]
//   zyrvc unplug [SLOT]
//   zyrvc wait COUNT [MS]             until COUNT converter interfaces are listed
//   zyrvc dump [SLOT]                 registers as 16 rows
//   zyrvc load SLOT FILE              registers from 16 rows (a backup file too)
//   zyrvc fault SLOT [silent] [late=MS] [late-at=A] [late-times=N] [wrong-at=A] [unplug-after=N]
//   zyrvc pace on|off
//   zyrvc traffic [FIRST]             the record: "slot out|in command address value"
//   zyrvc traffic-clear
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "config/default_images.h"
#include "config/register_rows.h"
#include "vconv/vconv_client.h"
#include "vconv/vconv_control.h"

namespace {

int Fail(const char *text)
{
    std::fprintf(stderr, "zyrvc: %s\n", text);
    return 1;
}

int FailCode(const char *what)
{
    std::fprintf(stderr, "zyrvc: %s failed, error %lu\n", what, GetLastError());
    return 1;
}

bool Ask(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize)
{
    const VconvAnswer answer = SendVconvRequest(code, in, inSize, out, outSize);
    if (answer == VconvAnswer::noBus)
        std::fprintf(stderr,
                     "zyrvc: the virtual converter's bus is not running (%s: error %lu); "
                     "install it with zyrvc install\n",
                     ZYRV_CONTROL_PATH, GetLastError());
    else if (answer == VconvAnswer::refused)
        std::fprintf(stderr, "zyrvc: the bus refused the request (error %lu)\n", GetLastError());
    return answer == VconvAnswer::answered;
}

// A request that has no answer, as the command's exit code.
int Tell(DWORD code, const void *in, DWORD inSize) { return Ask(code, in, inSize, nullptr, 0) ? 0 : 1; }

bool Number(const char *text, long low, long high, long &value)
{
    char *end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (!*text || *end || v < low || v > high)
        return false;
    value = v;
    return true;
}

// The registers from a file of 16 rows "XX: b0 ... b15"; other lines (a
// backup file's comments and fields) are passed over.
bool ReadRows(const char *path, uint8_t (&registers)[256])
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "zyrvc: %s cannot be read\n", path);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const Result read = RegistersFromRows(text.str(), registers);
    if (!read)
        std::fprintf(stderr, "zyrvc: %s: %s\n", path, read.Message().c_str());
    return read.Ok();
}

bool DefaultNamed(const std::string &name, uint8_t (&registers)[256])
{
    struct Named {
        const char *name;
        uint16_t version, type;
    };
    static const Named names[] = {
        {"vss-ect-12300", 12300, 2}, {"vss-12300", 12300, 3}, {"vss-ect-10005", 10005, 2}, {"vss-10005", 10005, 3}};
    for (const Named &n : names) {
        if (name != n.name)
            continue;
        DefaultImage image = FindDefaultImage(n.version, n.type);
        std::memset(registers, 0xFF, sizeof registers);
        std::memcpy(registers, image.bytes, image.length);
        return true;
    }
    return false;
}

bool IdentityNamed(const std::string &name, unsigned &identity)
{
    static const char *const names[ZYRV_IDENTITY_COUNT] = {"converter", "release-0101", "maker-case", "reports-16"};
    for (unsigned i = 0; i < ZYRV_IDENTITY_COUNT; i++)
        if (name == names[i]) {
            identity = i;
            return true;
        }
    return false;
}

int Install(const char *inf)
{
    char full[MAX_PATH];
    if (!GetFullPathNameA(inf, MAX_PATH, full, nullptr))
        return FailCode("GetFullPathNameA");
    if (VconvBusRunning()) {
        std::printf("the virtual converter's bus is installed and running\n");
        return 0;
    }
    GUID systemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiCreateDeviceInfoList(&systemClass, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return FailCode("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    static const char hardwareId[] = "ROOT\\ZYRVBUS\0";
    bool ok = SetupDiCreateDeviceInfoA(set, "ZYRVBUS", &systemClass, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
              SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE *>(hardwareId), sizeof hardwareId) &&
              SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) {
        SetLastError(error);
        return FailCode("registering the root bus device");
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, "ROOT\\ZYRVBUS", full, INSTALLFLAG_FORCE, &reboot))
        return FailCode("UpdateDriverForPlugAndPlayDevicesA");
    for (int i = 0; i < 100; i++) {
        if (VconvBusRunning()) {
            std::printf("installed the virtual converter's bus and drivers\n");
            return 0;
        }
        Sleep(50);
    }
    return Fail("the drivers were installed but the bus did not start within 5 seconds");
}

// How many HID interfaces with the converter's vendor and product id the
// system lists now.
int ListedConverters() { return static_cast<int>(ListedConverterPaths().size()); }

int Status()
{
    ZyrvStatus s = {};
    if (!Ask(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &s, sizeof s))
        return 1;
    std::printf("pacing %s\n", s.pacing ? "on (1 ms per report)" : "off");
    for (unsigned i = 0; i < ZYRV_MAX_CONVERTERS; i++)
        std::printf("slot %u: %s, identity %u, %u requests\n", i,
                    s.converters[i].plugged ? (s.converters[i].present ? "plugged" : "plugged, arriving") : "unplugged",
                    s.converters[i].identity, s.converters[i].requests);
    std::printf("listed HID interfaces 16C0:03E8: %d\n", ListedConverters());
    return 0;
}

int Plug(int argc, char **argv)
{
    ZyrvPlug plug = {};
    DefaultNamed("vss-ect-12300", plug.registers);
    for (int i = 0; i < argc; i++) {
        long n = 0;
        std::string arg = argv[i];
        if (Number(argv[i], 0, ZYRV_MAX_CONVERTERS - 1, n))
            plug.slot = static_cast<unsigned>(n);
        else if (IdentityNamed(arg, plug.identity)) {
        } else if (DefaultNamed(arg, plug.registers)) {
        } else if (arg == "keep")
            plug.keepRegisters = 1;
        else if (!ReadRows(argv[i], plug.registers))
            return 2;
    }
    return Tell(ZYRV_IOCTL_PLUG, &plug, sizeof plug);
}

int Slot(int argc, char **argv, unsigned &slot)
{
    long n = 0;
    slot = 0;
    if (argc > 0 && !Number(argv[0], 0, ZYRV_MAX_CONVERTERS - 1, n)) {
        std::fprintf(stderr, "zyrvc: \"%s\" is not a slot 0 to %d\n", argv[0], ZYRV_MAX_CONVERTERS - 1);
        return 2;
    }
    slot = static_cast<unsigned>(n);
    return 0;
}

// The faults given as KEY=N, each with the largest N it takes.
struct FaultSetting {
    const char *key;
    long most;
    int ZyrvFaults::*field;
};

constexpr FaultSetting faultSettings[] = {
    {"late", 60000, &ZyrvFaults::lateMs},
    {"late-at", 255, &ZyrvFaults::lateAt},
    {"late-times", 100000, &ZyrvFaults::lateTimes},
    {"wrong-at", 255, &ZyrvFaults::wrongAt},
    {"unplug-after", 1000000, &ZyrvFaults::unplugAfter},
};

// One fault word into `f`; false when it is not one.
bool SetFault(ZyrvFaults &f, const std::string &arg)
{
    if (arg == "silent") {
        f.silent = 1;
        return true;
    }
    if (arg == "clear")
        return true;
    const size_t eq = arg.find('=');
    if (eq == std::string::npos)
        return false;
    for (const FaultSetting &setting : faultSettings) {
        if (arg.compare(0, eq, setting.key) != 0)
            continue;
        long v = 0;
        if (!Number(arg.c_str() + eq + 1, 0, setting.most, v))
            return false;
        f.*setting.field = static_cast<int>(v);
        return true;
    }
    return false;
}

int Fault(int argc, char **argv)
{
    ZyrvFaults f = {};
    f.lateAt = f.wrongAt = f.unplugAfter = -1;
    if (int r = Slot(argc, argv, f.slot))
        return r;
    for (int i = 1; i < argc; i++) {
        if (!SetFault(f, argv[i])) {
            std::fprintf(stderr,
                         "zyrvc: \"%s\" is not a fault (silent, late=MS, late-at=A, late-times=N, "
                         "wrong-at=A, unplug-after=N, clear)\n",
                         argv[i]);
            return 2;
        }
    }
    return Tell(ZYRV_IOCTL_SET_FAULTS, &f, sizeof f);
}

int Traffic(int argc, char **argv)
{
    long first = 0;
    if (argc > 0 && !Number(argv[0], 0, 0x7fffffff, first))
        return Fail("traffic takes the number of the first entry");
    static ZyrvTraffic t;
    ZyrvSlot from = {static_cast<unsigned>(first)};
    unsigned long long start = 0;
    bool haveStart = false;
    for (;;) {
        if (!Ask(ZYRV_IOCTL_GET_TRAFFIC, &from, sizeof from, &t, sizeof t))
            return 1;
        for (unsigned i = 0; i < t.count; i++) {
            const ZyrvTrafficEntry &e = t.entries[i];
            unsigned long long tick = (static_cast<unsigned long long>(e.tickHigh) << 32) | e.tickLow;
            if (!haveStart)
                start = tick, haveStart = true;
            std::printf("%10.3f ms  %u %-3s %02X %02X %02X\n", (tick - start) / 10000.0, e.slot,
                        e.direction ? "in" : "out", e.command, e.address, e.value);
        }
        if (!t.count || t.first + t.count >= t.total)
            break;
        from.slot = t.first + t.count;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zyrvc install INF | status | plug [SLOT] [IDENTITY] [IMAGE|FILE|keep] | "
                             "unplug [SLOT] | wait COUNT [MS] | dump [SLOT] | load SLOT FILE | fault SLOT ... | "
                             "pace on|off | traffic [FIRST] | traffic-clear\n");
        return 2;
    }
    std::string command = argv[1];
    int rest = argc - 2;
    char **args = argv + 2;
    if (command == "install")
        return rest == 1 ? Install(args[0]) : Fail("install takes the INF file");
    if (command == "status")
        return Status();
    if (command == "plug")
        return Plug(rest, args);
    if (command == "unplug") {
        ZyrvSlot s = {};
        if (int r = Slot(rest, args, s.slot))
            return r;
        return Tell(ZYRV_IOCTL_UNPLUG, &s, sizeof s);
    }
    if (command == "wait") {
        long count = 0, ms = 5000;
        if (rest < 1 || !Number(args[0], 0, 16, count) || (rest > 1 && !Number(args[1], 0, 600000, ms)))
            return Fail("wait takes the number of converters and at most how many milliseconds");
        size_t listed = 0;
        if (WaitListedConverters(static_cast<size_t>(count), static_cast<DWORD>(ms), &listed))
            return 0;
        std::fprintf(stderr, "zyrvc: %lu converter interfaces listed, not %ld, after %ld ms\n",
                     static_cast<unsigned long>(listed), count, ms);
        return 1;
    }
    if (command == "dump") {
        ZyrvSlot s = {};
        if (int r = Slot(rest, args, s.slot))
            return r;
        ZyrvRegisters regs = {};
        if (!Ask(ZYRV_IOCTL_GET_REGISTERS, &s, sizeof s, &regs, sizeof regs))
            return 1;
        uint8_t copy[256];
        std::memcpy(copy, regs.registers, 256);
        std::fputs(FormatRegisterRows(copy).c_str(), stdout);
        return 0;
    }
    if (command == "load") {
        if (rest != 2)
            return Fail("load takes a slot and a file of register rows");
        ZyrvRegisters regs = {};
        if (int r = Slot(rest, args, regs.slot))
            return r;
        uint8_t rows[256];
        if (!ReadRows(args[1], rows))
            return 2;
        std::memcpy(regs.registers, rows, 256);
        return Tell(ZYRV_IOCTL_SET_REGISTERS, &regs, sizeof regs);
    }
    if (command == "fault")
        return Fault(rest, args);
    if (command == "pace") {
        if (rest != 1 || (std::strcmp(args[0], "on") && std::strcmp(args[0], "off")))
            return Fail("pace on|off");
        ZyrvSlot s = {std::strcmp(args[0], "on") == 0 ? 1u : 0u};
        return Tell(ZYRV_IOCTL_SET_PACING, &s, sizeof s);
    }
    if (command == "traffic")
        return Traffic(rest, args);
    if (command == "traffic-clear")
        return Tell(ZYRV_IOCTL_CLEAR_TRAFFIC, nullptr, 0);
    std::fprintf(stderr, "zyrvc: unknown command \"%s\"\n", argv[1]);
    return 2;
}
