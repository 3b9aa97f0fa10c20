// The shipped programs, zyr.exe and zyrctl.exe bound to Win32, run as
// processes over the virtual converter inside Wine's own HID stack
// (hidclass, hid.dll, SetupAPI, plug and play), with the converter's
// registers and its traffic record checked through its control channel.
// Every wait is bounded. Without the virtual converter installed in the
// prefix (scripts/env.sh, zyr_install_vconv) every case fails, saying so.
#include "app/resource_ids.h"
#include "config/default_images.h"
#include "config/register_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/dialog_driver.h"
#include "vconv/vconv_control.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <doctest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Registers = std::array<uint8_t, 256>;

const char *const notInstalled =
    "the virtual converter is not running in this prefix: scripts/env.sh installs it (zyr_install_vconv)";

bool Control(DWORD code, const void *in, DWORD inSize, void *out = nullptr, DWORD outSize = 0)
{
    HANDLE control = CreateFileA(ZYRV_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (control == INVALID_HANDLE_VALUE) return false;
    DWORD moved = 0;
    const BOOL ok = DeviceIoControl(control, code, const_cast<void *>(in), inSize, out, outSize, &moved, nullptr);
    CloseHandle(control);
    return ok != FALSE;
}

Registers DefaultRegisters(uint16_t version, uint16_t type)
{
    Registers r;
    r.fill(0xFF);
    const DefaultImage image = FindDefaultImage(version, type);
    std::memcpy(r.data(), image.bytes, image.length);
    return r;
}

struct Wire {
    unsigned slot, direction, command, address, value;
};

// How many converter interfaces the system lists.
std::vector<std::string> ListedConverterPaths()
{
    static const GUID hid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); i++) {
        char buffer[1024];
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr)) continue;
        std::string lower = detail->DevicePath;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(tolower(c)); });
        if (lower.find("vid_16c0&pid_03e8") != std::string::npos) paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// The virtual bus, set to a known state for each case: every converter
// unplugged, faults off, pacing off, the traffic record empty; then the
// converters the case asks for. A folder of its own is the current folder.
struct VconvFixture {
    VconvFixture()
    {
        ZyrvStatus status = {};
        REQUIRE_MESSAGE(Control(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status), notInstalled);
        REQUIRE(status.version == ZYRV_INTERFACE_VERSION);
        REQUIRE_MESSAGE(OnlyConverterZero(), "converter 0 did not come back alone onto the virtual bus");
        SetFaults(Faults(0));
        Pacing(false);
        SetRegisters(DefaultRegisters(12300, 2));
        REQUIRE(Control(ZYRV_IOCTL_CLEAR_TRAFFIC, nullptr, 0));
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "zyr-vconv-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(GetTickCount()) + "\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        GetCurrentDirectoryA(MAX_PATH, temp);
        previousFolder = temp;
        SetCurrentDirectoryA(folder.c_str());
    }
    ~VconvFixture()
    {
        SetCurrentDirectoryA(previousFolder.c_str());
        SetFaults(Faults(0));
        Pacing(true);
        // The suites after this one find the bus as the test command left it.
        OnlyConverterZero();
    }

    // Converter 0 as it ships, alone on the bus and listed by the system;
    // the others unplugged. Safe in the destructor: it never throws.
    static bool OnlyConverterZero()
    {
        ZyrvStatus status = {};
        if (!Control(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status)) return false;
        for (unsigned slot = 0; slot < ZYRV_MAX_CONVERTERS; slot++) {
            const ZyrvConverterStatus &c = status.converters[slot];
            if (c.plugged && (slot != 0 || c.identity != ZYRV_IDENTITY_CONVERTER)) {
                ZyrvSlot s = {slot};
                if (!Control(ZYRV_IOCTL_UNPLUG, &s, sizeof s)) return false;
            }
        }
        if (!Control(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status)) return false;
        if (!status.converters[0].plugged) {
            // Listed no more before it comes back, so that the wait below
            // sees the new arrival and not the old interface.
            if (!WaitListed(0)) return false;
            ZyrvPlug plug = {};
            plug.identity = ZYRV_IDENTITY_CONVERTER;
            plug.keepRegisters = 1;
            if (!Control(ZYRV_IOCTL_PLUG, &plug, sizeof plug)) return false;
        }
        return WaitListed(1);
    }

    static void SetRegisters(const Registers &registers)
    {
        ZyrvRegisters r = {};
        std::memcpy(r.registers, registers.data(), 256);
        REQUIRE(Control(ZYRV_IOCTL_SET_REGISTERS, &r, sizeof r));
    }
    static ZyrvFaults Faults(unsigned slot)
    {
        ZyrvFaults f = {};
        f.slot = slot;
        f.lateAt = f.wrongAt = f.unplugAfter = -1;
        return f;
    }
    static void SetFaults(const ZyrvFaults &f) { REQUIRE(Control(ZYRV_IOCTL_SET_FAULTS, &f, sizeof f)); }
    static void Pacing(bool on)
    {
        ZyrvSlot s = {on ? 1u : 0u};
        REQUIRE(Control(ZYRV_IOCTL_SET_PACING, &s, sizeof s));
    }
    static void Plug(unsigned slot, unsigned identity, const Registers &registers, bool keep = false)
    {
        ZyrvPlug plug = {};
        plug.slot = slot;
        plug.identity = identity;
        plug.keepRegisters = keep;
        std::memcpy(plug.registers, registers.data(), 256);
        REQUIRE(Control(ZYRV_IOCTL_PLUG, &plug, sizeof plug));
    }
    static void Unplug(unsigned slot)
    {
        ZyrvSlot s = {slot};
        REQUIRE(Control(ZYRV_IOCTL_UNPLUG, &s, sizeof s));
    }
    static bool WaitListed(size_t count)
    {
        for (int i = 0; i < 500; i++) {
            if (ListedConverterPaths().size() == count) return true;
            Sleep(20);
        }
        return false;
    }
    static Registers Held(unsigned slot = 0)
    {
        ZyrvSlot s = {slot};
        ZyrvRegisters r = {};
        REQUIRE(Control(ZYRV_IOCTL_GET_REGISTERS, &s, sizeof s, &r, sizeof r));
        Registers out;
        std::memcpy(out.data(), r.registers, 256);
        return out;
    }
    static std::vector<Wire> Traffic()
    {
        static ZyrvTraffic t;
        std::vector<Wire> wire;
        ZyrvSlot from = {0};
        for (;;) {
            REQUIRE(Control(ZYRV_IOCTL_GET_TRAFFIC, &from, sizeof from, &t, sizeof t));
            for (unsigned i = 0; i < t.count; i++) {
                const ZyrvTrafficEntry &e = t.entries[i];
                wire.push_back({e.slot, e.direction, e.command, e.address, e.value});
            }
            if (!t.count || t.first + t.count >= t.total) return wire;
            from.slot = t.first + t.count;
        }
    }
    static std::set<unsigned> WrittenAddresses()
    {
        std::set<unsigned> written;
        for (const Wire &w : Traffic())
            if (w.direction == 0 && w.command == 1) written.insert(w.address);
        return written;
    }
    static void ClearTraffic() { REQUIRE(Control(ZYRV_IOCTL_CLEAR_TRAFFIC, nullptr, 0)); }

    std::string ReadText(const std::string &path) const
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void WriteText(const std::string &name, const std::string &text) const
    {
        std::ofstream file(folder + name, std::ios::binary);
        file << text;
    }
    // zyrctl.exe with `args`: its exit code (STILL_ACTIVE when it hung) and output.
    DWORD Zyrctl(const std::string &args, std::string &output, DWORD timeoutMs = 60000) const
    {
        const std::string log = folder + "zyrctl.log";
        DWORD code;
        {
            ChildProcess zyrctl("\"" + ProgramPath("zyrctl.exe") + "\" " + args, log);
            code = zyrctl.WaitForExit(timeoutMs);
        }
        output = ReadText(log);
        return code;
    }

    std::string folder, previousFolder;
};

// The registers of a backup file's 16 rows.
Registers RowsOf(const std::string &text)
{
    Registers r;
    r.fill(0);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned offset = 0;
        uint8_t bytes[registerRowBytes];
        std::string problem;
        if (ParseRegisterRow(TrimBlanks(line), offset, bytes, problem)) std::memcpy(&r[offset], bytes, 16);
    }
    return r;
}

std::set<unsigned> Differing(const Registers &a, const Registers &b)
{
    std::set<unsigned> d;
    for (unsigned i = 0; i < 256; i++)
        if (a[i] != b[i]) d.insert(i);
    return d;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string BeforeFile(const std::string &text)
{
    const size_t at = text.find("zyr-before-");
    if (at == std::string::npos) return "";
    return text.substr(at, text.find_first_of(" \r\n", at) - at);
}

}  // namespace

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: each command sends what it should and the converter holds the result")
{
    struct Row {
        const char *args;
        DWORD code;
        const char *output;
        bool writes;  // whether registers change; the written ones are exactly those
    };
    WriteText("ap1.txt", "01) 4000mV\r\n02) 3400mV\r\n03) 2880mV\r\n04) 2320mV\r\n05) 1760mV\r\n06) 1200mV\r\n07) 0640mV\r\n");
    const Row rows[] = {
        {"info", 0, "firmware:    1.23.00 (12300)", false},
        {"show", 0, "speed adjustment  0.0 %", false},
        {"backup before.zyr", 0, "saved all 256 registers of the converter (firmware 1.23.00, VSS+ECT) to before.zyr",
         false},
        {"set speed=+3.5 sensor=high table=ap2-res --yes", 0, "every register holds what was meant", true},
        {"diff before.zyr device", 5, "speed adjustment: 0.0 % (0x0000) -> 3.5 % (0x0023) (register 6)", false},
        {"restore before.zyr --yes", 0, "every register holds what was meant", true},
        {"diff before.zyr device", 0, "no differences", false},
        {"table ap1-res --import ap1.txt --yes", 0, "every register holds what was meant", true},
    };
    for (const Row &row : rows) {
        CAPTURE(row.args);
        ClearTraffic();
        const Registers before = Held();
        std::string output;
        CHECK(Zyrctl(row.args, output) == row.code);
        CHECK_MESSAGE(Has(output, row.output), output);
        const Registers after = Held();
        const std::set<unsigned> written = WrittenAddresses();
        CHECK(written == Differing(before, after));
        CHECK(written.empty() == !row.writes);
        // Every read request got its one reply, and nothing else came in.
        unsigned requests = 0, replies = 0;
        for (const Wire &w : Traffic()) {
            if (w.direction == 0 && w.command == 2) requests++;
            if (w.direction == 1) replies++;
        }
        CHECK(requests == replies);
        CHECK(requests >= 5);
    }
    // The backup holds the converter's registers as they were, exactly.
    CHECK(RowsOf(ReadText(folder + "before.zyr")) == DefaultRegisters(12300, 2));
    CHECK(Held()[98] == (3400 & 0xFF));  // the entry the imported text changed
}

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: a silent converter ends every wait with the protocol's message")
{
    ZyrvFaults f = Faults(0);
    f.silent = 1;
    SetFaults(f);
    std::string output;
    CHECK(Zyrctl("info", output, 60000) == 1);
    CHECK_MESSAGE(Has(output, "reading the firmware version word at register 1 failed at stage 2, receiving the low "
                              "reply (the converter did not answer), after 10 attempts"),
                  output);
}

TEST_CASE_FIXTURE(VconvFixture, "real zyr.exe: Read and Write Device over Wine's HID stack")
{
    ChildProcess dialog("\"" + ProgramPath("zyr.exe") + "\"");
    HWND window = dialog.WaitForWindow("Brantix ZYR");
    auto waitStatus = [&](const std::string &prefix) {
        for (int i = 0; i < 1500; ++i) {
            if (WindowText(GetDlgItem(window, IDC_STATUS)).rfind(prefix, 0) == 0) return true;
            Sleep(20);
        }
        return false;
    };
    auto waitIdle = [&] {
        for (int i = 0; i < 1500 && !IsWindowEnabled(GetDlgItem(window, IDC_READ_DEVICE)); ++i) Sleep(20);
        Sleep(200);
    };
    PostMessageA(GetDlgItem(window, IDC_READ_DEVICE), BM_CLICK, 0, 0);
    CHECK(waitStatus(" Read OK        Ver:1.23.00        Device:VSS+ECT"));
    waitIdle();

    SendMessageA(GetDlgItem(window, IDC_SPEED_ADJUST), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("-1.5"));
    ClearTraffic();
    PostMessageA(GetDlgItem(window, IDC_WRITE_DEVICE), BM_CLICK, 0, 0);
    CHECK_MESSAGE(waitStatus(" Device Write OK"), WindowText(GetDlgItem(window, IDC_STATUS)));
    waitIdle();
    const Registers held = Held();
    CHECK(held[6] == 15);
    CHECK(held[7] == 0x80);
    CHECK(!WrittenAddresses().empty());

    PostMessageA(window, WM_CLOSE, 0, 0);
    CHECK(dialog.WaitForExit(30000) == 0);
}

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: a converter unplugged mid-write says so, with the backup that restores it")
{
    std::string output;
    // zyrctl first reads the converter through, then its identity again,
    // then writes: the unplug comes after the first writes.
    ZyrvFaults f = Faults(0);
    f.unplugAfter = 6 + 256 + 6 + 4;
    SetFaults(f);
    const DWORD start = GetTickCount();
    CHECK(Zyrctl("set speed=-4.0 sensor=high --yes", output) == 1);
    CHECK(GetTickCount() - start < 30000);
    CHECK_MESSAGE(Has(output, "the converter may be partly written: zyrctl restore zyr-before-set-"), output);
    const std::string before = BeforeFile(output);
    REQUIRE(!before.empty());
    CHECK(WaitListed(0));
    // Whatever reached the converter before the unplug, it holds.
    const Registers held = Held();
    for (const Wire &w : Traffic())
        if (w.direction == 0 && w.command == 1) CHECK(held[w.address] == w.value);

    CHECK(held != DefaultRegisters(12300, 2));

    // Plugged in again as it was left, the converter takes the backup back:
    // every register as it was before the write.
    SetFaults(Faults(0));
    Plug(0, ZYRV_IDENTITY_CONVERTER, held, true);
    REQUIRE(WaitListed(1));
    CHECK(Zyrctl("restore " + before + " --yes", output) == 0);
    CHECK_MESSAGE(Has(output, "every register holds what was meant"), output);
    CHECK(Held() == DefaultRegisters(12300, 2));
}

namespace {

// The bus slot of a converter's interface path, "...pid_03e8#SLOT&PLUG#{...}".
int SlotOfPath(const std::string &path)
{
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(tolower(c)); });
    const std::string key = "pid_03e8#";
    const size_t at = lower.find(key);
    if (at == std::string::npos || at + key.size() >= lower.size()) return -1;
    const char digit = lower[at + key.size()];
    return digit >= '0' && digit <= '9' ? digit - '0' : -1;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(tolower(c)); });
    return text;
}

}  // namespace

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: of two converters, the first one the system lists is used")
{
    // Converter 1 holds another firmware, so the output tells which one
    // answered; the traffic record tells which one was asked.
    struct Row {
        const char *arrangement;
        bool replugZero;  // converter 0 arrives after converter 1
    };
    const Row rows[] = {
        {"converter 0 first on the bus, then converter 1", false},
        {"converter 1 first on the bus, then converter 0 again", true},
    };
    const char *const firmware[2] = {"(12300)", "(10005)"};
    for (const Row &row : rows) {
        CAPTURE(row.arrangement);
        REQUIRE(OnlyConverterZero());
        Plug(1, ZYRV_IDENTITY_CONVERTER, DefaultRegisters(10005, 3));
        REQUIRE(WaitListed(2));
        if (row.replugZero) {
            Unplug(0);
            REQUIRE(WaitListed(1));
            Plug(0, ZYRV_IDENTITY_CONVERTER, Registers{}, true);
            REQUIRE(WaitListed(2));
        }
        const std::vector<std::string> listed = ListedConverterPaths();
        REQUIRE(listed.size() == 2);
        const int first = SlotOfPath(listed[0]);
        REQUIRE((first == 0 || first == 1));
        CHECK(SlotOfPath(listed[1]) == 1 - first);

        ClearTraffic();
        std::string output;
        CHECK(Zyrctl("info", output) == 0);
        CHECK_MESSAGE(Has(Lower(output), "device path: " + Lower(listed[0])), output);
        CHECK_MESSAGE(Has(output, firmware[first]), output);
        const std::vector<Wire> wire = Traffic();
        CHECK(!wire.empty());
        for (const Wire &w : wire) CHECK(w.slot == unsigned(first));
    }
}

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: a converter of another identity is not matched and gets nothing")
{
    struct Row {
        unsigned identity;
        const char *what;
    };
    const Row rows[] = {
        {ZYRV_IDENTITY_RELEASE_0101, "release 0x0101"},
        {ZYRV_IDENTITY_MAKER_CASE, "manufacturer \"BRANTIX\""},
        {ZYRV_IDENTITY_REPORTS_16, "16-byte reports"},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        Unplug(0);
        REQUIRE(WaitListed(0));
        Plug(0, row.identity, DefaultRegisters(12300, 2));
        REQUIRE(WaitListed(1));
        ClearTraffic();
        std::string output;
        CHECK(Zyrctl("info", output) == 1);
        CHECK_MESSAGE(Has(output, "converter not found: no USB HID device with the converter's identity "
                                  "(16C0:03E8, \"Brantix\" \"ZYR-USB\") is attached"),
                      output);
        CHECK(Traffic().empty());
    }
}

