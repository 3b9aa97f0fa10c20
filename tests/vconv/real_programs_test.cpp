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
#include "tests/support/format_questions.h"
#include "tests/support/temp_folder.h"
#include "tests/support/portable_checks.h"
#include "tests/vconv/real_dialog.h"
#include "vconv/vconv_client.h"
#include "vconv/vconv_control.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// The virtual bus, set to a known state for each case: every converter
// unplugged, faults off, pacing off, the traffic record empty; then the
// converters the case asks for. A folder of its own is the current folder.
struct VconvFixture {
    VconvFixture()
    {
        ZyrvStatus status = {};
        REQUIRE_MESSAGE(VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status), notInstalled);
        REQUIRE(status.version == ZYRV_INTERFACE_VERSION);
        REQUIRE_MESSAGE(OnlyConverterZero(), "converter 0 did not come back alone onto the virtual bus");
        SetFaults(Faults(0));
        Pacing(false);
        SetRegisters(DefaultRegisters(12300, 2));
        REQUIRE(VconvRequest(ZYRV_IOCTL_CLEAR_TRAFFIC, nullptr, 0));
        char temp[MAX_PATH];
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
        if (!VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status))
            return false;
        for (unsigned slot = 0; slot < ZYRV_MAX_CONVERTERS; slot++) {
            const ZyrvConverterStatus &c = status.converters[slot];
            if (c.plugged && (slot != 0 || c.identity != ZYRV_IDENTITY_CONVERTER) && !VconvUnplug(slot))
                return false;
        }
        if (!VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status))
            return false;
        if (!status.converters[0].plugged) {
            // Listed no more before it comes back, so that the wait below
            // sees the new arrival and not the old interface.
            if (!WaitListed(0))
                return false;
            ZyrvPlug plug = {};
            plug.identity = ZYRV_IDENTITY_CONVERTER;
            plug.keepRegisters = 1;
            if (!VconvRequest(ZYRV_IOCTL_PLUG, &plug, sizeof plug))
                return false;
        }
        return WaitListed(1);
    }

    static void SetRegisters(const Registers &registers) { REQUIRE(VconvSetRegisters(0, registers.data())); }
    static ZyrvFaults Faults(unsigned slot)
    {
        ZyrvFaults f = {};
        f.slot = slot;
        f.lateAt = f.wrongAt = f.unplugAfter = -1;
        return f;
    }
    static void SetFaults(const ZyrvFaults &f) { REQUIRE(VconvRequest(ZYRV_IOCTL_SET_FAULTS, &f, sizeof f)); }
    static void Pacing(bool on) { REQUIRE(VconvSetPacing(on)); }
    static void Plug(unsigned slot, unsigned identity, const Registers &registers, bool keep = false)
    {
        ZyrvPlug plug = {};
        plug.slot = slot;
        plug.identity = identity;
        plug.keepRegisters = keep;
        std::memcpy(plug.registers, registers.data(), 256);
        REQUIRE(VconvRequest(ZYRV_IOCTL_PLUG, &plug, sizeof plug));
    }
    static void Unplug(unsigned slot) { REQUIRE(VconvUnplug(slot)); }
    static bool WaitListed(size_t count) { return WaitListedConverters(count, 10000); }
    static Registers Held(unsigned slot = 0)
    {
        Registers out;
        REQUIRE(VconvGetRegisters(slot, out.data()));
        return out;
    }
    static std::vector<Wire> Traffic()
    {
        static ZyrvTraffic t;
        std::vector<Wire> wire;
        ZyrvSlot from = {0};
        for (;;) {
            REQUIRE(VconvRequest(ZYRV_IOCTL_GET_TRAFFIC, &from, sizeof from, &t, sizeof t));
            for (unsigned i = 0; i < t.count; i++) {
                const ZyrvTrafficEntry &e = t.entries[i];
                wire.push_back({e.slot, e.direction, e.command, e.address, e.value});
            }
            if (!t.count || t.first + t.count >= t.total)
                return wire;
            from.slot = t.first + t.count;
        }
    }
    static std::set<unsigned> WrittenAddresses()
    {
        std::set<unsigned> written;
        for (const Wire &w : Traffic())
            if (w.direction == 0 && w.command == 1)
                written.insert(w.address);
        return written;
    }
    // Whether every read request got its one reply and nothing else came in;
    // how many requests there were.
    static bool EachReadAnswered(unsigned &requests)
    {
        unsigned replies = 0;
        requests = 0;
        for (const Wire &w : Traffic()) {
            if (w.direction == 0 && w.command == 2)
                requests++;
            if (w.direction == 1)
                replies++;
        }
        return requests == replies;
    }
    static void ClearTraffic() { REQUIRE(VconvRequest(ZYRV_IOCTL_CLEAR_TRAFFIC, nullptr, 0)); }

    std::string ReadText(const std::string &path) const { return ReadWholeFile(path); }
    void WriteText(const std::string &name, const std::string &text) const { WriteWholeFile(folder + name, text); }
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

    TempFolder tempFolder{"zvc"};  // gone with all the programs left in it
    std::string folder = tempFolder.Path(), previousFolder;
};

// The registers of a backup file's 16 rows; all zero when it does not hold them.
Registers RowsOf(const std::string &text)
{
    uint8_t read[256] = {};
    Registers r;
    r.fill(0);
    if (RegistersFromRows(text, read))
        std::memcpy(r.data(), read, 256);
    return r;
}

std::set<unsigned> Differing(const Registers &a, const Registers &b)
{
    std::set<unsigned> d;
    for (unsigned i = 0; i < 256; i++)
        if (a[i] != b[i])
            d.insert(i);
    return d;
}

std::string BeforeFile(const std::string &text)
{
    const size_t at = text.find("zyr-before-");
    if (at == std::string::npos)
        return "";
    return text.substr(at, text.find_first_of(" \r\n", at) - at);
}

// Two programs at once: each such case runs this many rounds.
constexpr int concurrentRounds = 20;

const char *const busyRefusal = "zyrctl: another ZYR program is using the converter (waited 5 s); nothing was sent";

std::string ZyrctlCommand(const std::string &args) { return "\"" + ProgramPath("zyrctl.exe") + "\" " + args; }

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The speed adjustment as the converter holds it: tenths, sign in bit 15.
std::pair<uint8_t, uint8_t> SpeedBytes(int tenths)
{
    return {static_cast<uint8_t>(std::abs(tenths)), static_cast<uint8_t>(tenths < 0 ? 0x80 : 0)};
}

std::string SpeedText(int tenths)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", tenths / 10.0);
    return text;
}

// A dialog that has read the converter.
void ReadWith(RealDialog &dialog)
{
    dialog.Click(IDC_READ_DEVICE);
    REQUIRE_MESSAGE(dialog.WaitStatus(" Read OK        Ver:"), dialog.Status());
    REQUIRE(dialog.WaitIdle());
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
    WriteText("ap1.txt",
              "01) 4000mV\r\n02) 3400mV\r\n03) 2880mV\r\n04) 2320mV\r\n05) 1760mV\r\n06) 1200mV\r\n07) 0640mV\r\n");
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
        CHECK_MESSAGE(Contains(output, row.output), output);
        const Registers after = Held();
        const std::set<unsigned> written = WrittenAddresses();
        CHECK(written == Differing(before, after));
        CHECK(written.empty() == !row.writes);
        unsigned requests = 0;
        CHECK(EachReadAnswered(requests));
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
    CHECK_MESSAGE(Contains(output,
                           "reading the firmware version word at register 1 failed at stage 2, receiving the low "
                           "reply (the converter did not answer), after 10 attempts"),
                  output);
}

TEST_CASE_FIXTURE(VconvFixture, "real zyr.exe: Read and Write Device over Wine's HID stack")
{
    ChildProcess dialog("\"" + ProgramPath("zyr.exe") + "\"");
    HWND window = dialog.WaitForWindow("Brantix ZYR");
    CHECK(PressAndWait(window, IDC_READ_DEVICE, " Read OK        Ver:1.23.00        Device:VSS+ECT"));

    SendMessageA(GetDlgItem(window, IDC_SPEED_ADJUST), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("-1.5"));
    ClearTraffic();
    CHECK_MESSAGE(PressAndWait(window, IDC_WRITE_DEVICE, " Device Write OK"),
                  WindowText(GetDlgItem(window, IDC_STATUS)));
    const Registers held = Held();
    CHECK(held[6] == 15);
    CHECK(held[7] == 0x80);
    CHECK(!WrittenAddresses().empty());

    PostMessageA(window, WM_CLOSE, 0, 0);
    CHECK(dialog.WaitForExit(30000) == 0);
}

TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: a late reply is never taken for another register")
{
    // The replies to the first read requests of one register come late,
    // when the program has given up on them: during the close and reopen
    // that follow (dropped, no handle open), in the pause after the reopen
    // (queued on the new handle, where a failing HidD_FlushQueue leaves
    // it), while the retried request waits, or seconds later. The backup is
    // exact. (A write's read-back answered late: the close question below.)
    struct Row {
        int lateMs, lateAt, lateTimes;
    };
    const Row rows[] = {{550, 40, 1}, {650, 40, 1}, {900, 40, 1},  {650, 1, 1},   {900, 2, 1},   {650, 255, 1},
                        {520, 10, 1}, {800, 10, 2}, {1500, 10, 2}, {2000, 10, 1}, {3000, 10, 1}, {700, 10, 3}};
    // Every register its own value, so a reply taken for another
    // register's shows in the file.
    Registers distinct = DefaultRegisters(12300, 2);
    for (int r = 5; r < 256; ++r)
        distinct[r] = static_cast<uint8_t>(r * 7 + 3);
    for (const Row &row : rows) {
        CAPTURE(row.lateMs);
        CAPTURE(row.lateAt);
        CAPTURE(row.lateTimes);
        SetRegisters(distinct);
        ZyrvFaults f = Faults(0);
        f.lateMs = row.lateMs;
        f.lateAt = row.lateAt;
        f.lateTimes = row.lateTimes;
        SetFaults(f);
        ClearTraffic();
        std::string output;
        DeleteFileA((folder + "late.zyr").c_str());
        CHECK_MESSAGE(Zyrctl("backup late.zyr", output) == 0, output);
        CHECK_MESSAGE(RowsOf(ReadText(folder + "late.zyr")) == distinct, output);
        // The late reply made the program ask that register again, and
        // once more when no reply could still come.
        unsigned requests = 0;
        for (const Wire &w : Traffic())
            if (w.direction == 0 && w.command == 2 && int(w.address) == row.lateAt)
                requests++;
        CHECK(requests >= 3);
        SetFaults(Faults(0));
    }
}

// Each round two backups start together; the one that waits for the other
// either gets the converter within its wait or is refused, sending nothing.
TEST_CASE_FIXTURE(VconvFixture, "real zyrctl: two backups at the same moment, 20 times: exact files or the refusal")
{
    const Registers held = Held();
    int exact = 0, refused = 0;
    const DWORD start = GetTickCount();
    for (int round = 0; round < concurrentRounds; ++round) {
        CAPTURE(round);
        const std::string files[2] = {folder + "a.zyr", folder + "b.zyr"};
        const std::string logs[2] = {folder + "a.log", folder + "b.log"};
        for (const std::string &file : files)
            DeleteFileA(file.c_str());
        DWORD codes[2];
        {
            ChildProcess first(ZyrctlCommand("backup a.zyr"), logs[0]);
            ChildProcess second(ZyrctlCommand("backup b.zyr"), logs[1]);
            codes[0] = first.WaitForExit(60000);
            codes[1] = second.WaitForExit(60000);
        }
        int succeeded = 0;
        for (int i = 0; i < 2; ++i) {
            const std::string output = ReadText(logs[i]);
            if (codes[i] == 0) {
                CHECK_MESSAGE(RowsOf(ReadText(files[i])) == held, output);
                ++succeeded;
            } else {
                CHECK_MESSAGE(codes[i] == 1, output);
                CHECK_MESSAGE(Contains(output, busyRefusal), output);
                CHECK_FALSE(Exists(files[i]));
                ++refused;
            }
        }
        CHECK(succeeded >= 1);
        exact += succeeded;
    }
    // Every read request of either program got its one reply.
    unsigned requests = 0;
    CHECK(EachReadAnswered(requests));
    CHECK(WrittenAddresses().empty());
    CHECK(Held() == held);
    MESSAGE("two backups at once, ", concurrentRounds, " rounds: ", exact, " exact files, ", refused, " refusals, ",
            (GetTickCount() - start) / 1000.0, " s");
}

// Each round the dialog writes a new speed; a backup is started once the
// write has the converter (its progress is on the status line).
TEST_CASE_FIXTURE(VconvFixture, "real zyr.exe and zyrctl: a backup during Write Device, 20 times: the write is true")
{
    RealDialog dialog;
    ReadWith(dialog);
    int during = 0, refused = 0;
    const DWORD start = GetTickCount();
    for (int round = 0; round < concurrentRounds; ++round) {
        CAPTURE(round);
        const int tenths = (round % 2 ? -1 : 1) * (5 + round);
        REQUIRE_MESSAGE(dialog.WaitIdle(), dialog.Status());
        dialog.SetText(IDC_SPEED_ADJUST, SpeedText(tenths));
        const Registers before = Held();
        const std::string file = folder + "during.zyr", log = folder + "during.log";
        DeleteFileA(file.c_str());
        dialog.Click(IDC_WRITE_DEVICE);
        const bool writing = dialog.WaitStatus(" Writing Device Data", 10000);
        DWORD code;
        {
            ChildProcess backup(ZyrctlCommand("backup during.zyr"), log);
            code = backup.WaitForExit(60000);
        }
        CHECK_MESSAGE(dialog.WaitStatus(" Device Write OK", 30000), dialog.Status());
        REQUIRE(dialog.WaitIdle());
        if (writing && dialog.Status() == " Device Write OK")
            during++;
        const Registers after = Held();
        CHECK(after[6] == SpeedBytes(tenths).first);
        CHECK(after[7] == SpeedBytes(tenths).second);
        for (unsigned address : Differing(before, after))
            CHECK((address == 6 || address == 7));
        const std::string output = ReadText(log);
        if (code == 0) {
            // Taken once the write had let the converter go.
            CHECK_MESSAGE(RowsOf(ReadText(file)) == after, output);
        } else {
            CHECK_MESSAGE(code == 1, output);
            CHECK_MESSAGE(Contains(output, busyRefusal), output);
            CHECK_FALSE(Exists(file));
            refused++;
        }
    }
    MESSAGE("backup during Write Device, ", concurrentRounds,
            " rounds: the write was seen running when the backup started in ", during, ", refusals ", refused, ", ",
            (GetTickCount() - start) / 1000.0, " s");
    CHECK(during > 0);
}

// What the user sees of each flow of the dialog over Wine's stack, and
// what the converter holds afterwards.
TEST_CASE_FIXTURE(VconvFixture, "real zyr.exe: range error, table editor, Factory Defaults over Wine's HID stack")
{
    const Registers defaults = DefaultRegisters(12300, 2);
    SUBCASE("a speed out of range: the error box, nothing sent")
    {
        RealDialog dialog;
        ReadWith(dialog);
        ClearTraffic();
        dialog.SetText(IDC_SPEED_ADJUST, "25.1");
        dialog.Click(IDC_WRITE_DEVICE);
        BoxView box = dialog.WaitBox("Error");
        REQUIRE(box.window != nullptr);
        CHECK(box.text == "Speed Adjustment value is out of range!");
        CHECK(box.buttons == std::vector<int>{IDOK});
        CHECK(box.owner == dialog.Window());
        PostMessageA(GetDlgItem(box.window, IDOK), BM_CLICK, 0, 0);
        CHECK(WaitGone(box.window));
        // The refused text is checked before the controls are disabled, so
        // the end of this write shows as the image coming back.
        bool shownAgain = false;
        for (int i = 0; i < 500 && !shownAgain; i++) {
            shownAgain = dialog.Text(IDC_SPEED_ADJUST) == "0.0";
            if (!shownAgain)
                Sleep(20);
        }
        CHECK(shownAgain);
        REQUIRE(dialog.WaitIdle());
        CHECK(dialog.Enabled(IDC_WRITE_DEVICE));
        CHECK(Traffic().empty());
        CHECK(Held() == defaults);
    }
    SUBCASE("the table editor: the voltage column as text, then Write Device")
    {
        RealDialog dialog;
        ReadWith(dialog);
        dialog.Click(IDC_EDIT_AP2_RES);
        BoxView editor = dialog.WaitBox("AP2 RES Table Edit");
        REQUIRE(editor.window != nullptr);
        HWND text = GetDlgItem(editor.window, IDC_TABLE_TEXT);
        const std::string shown = ControlText(text);
        CHECK(shown.rfind("01) ", 0) == 0);
        const int edited[20] = {4000, 3500, 3000, 2500, 2000, 1800, 1600, 1400, 1200, 1000,
                                900,  800,  700,  600,  500,  400,  300,  200,  100,  0};
        std::string lines;
        for (int i = 0; i < 20; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%02d) %04dmV\r\n", i + 1, edited[i]);
            lines += line;
        }
        SendMessageA(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lines.c_str()));
        ClickButton(GetDlgItem(editor.window, IDC_TABLE_OK));
        CHECK(WaitGone(editor.window));
        CHECK(dialog.NoBox("Error"));
        ClearTraffic();
        CHECK(Held() == defaults);  // in memory only, until Write Device
        dialog.Click(IDC_WRITE_DEVICE);
        CHECK_MESSAGE(dialog.WaitStatus(" Device Write OK"), dialog.Status());
        REQUIRE(dialog.WaitIdle());
        Registers expected = defaults;
        for (int i = 0; i < 20; ++i) {
            expected[13 + 4 * i] = static_cast<uint8_t>(edited[i] & 0xFF);
            expected[14 + 4 * i] = static_cast<uint8_t>(edited[i] >> 8);
        }
        CHECK(Held() == expected);
        for (unsigned address : WrittenAddresses())
            CHECK(address >= 5);
    }
    SUBCASE("Factory Defaults, then Write Device: the converter holds the default image")
    {
        Registers used = defaults;
        used[5] = 1;
        used[6] = 0x19;  // -2.5 %
        used[7] = 0x80;
        used[8] = used[9] = 0;
        used[11] = 12;
        used[98] = 0x00;
        used[99] = 0x01;
        SetRegisters(used);
        RealDialog dialog;
        ReadWith(dialog);
        REQUIRE(dialog.Text(IDC_SPEED_ADJUST) == "-2.5");
        dialog.Click(IDC_FACTORY_DEFAULTS);
        BoxView box = dialog.WaitBox("Defaults Loaded OK");
        REQUIRE(box.window != nullptr);
        CHECK(box.text == "Factory Defaults have been loaded to memory.\nUse \"Write Device\" button to write defaults "
                          "back to device.");
        CHECK(box.buttons == std::vector<int>{IDOK});
        CHECK(box.topmost);
        CHECK(dialog.Text(IDC_SPEED_ADJUST) == "0.0");
        PostMessageA(GetDlgItem(box.window, IDOK), BM_CLICK, 0, 0);
        CHECK(WaitGone(box.window));
        CHECK(Held() == used);  // memory only
        dialog.Click(IDC_WRITE_DEVICE);
        CHECK_MESSAGE(dialog.WaitStatus(" Device Write OK"), dialog.Status());
        REQUIRE(dialog.WaitIdle());
        CHECK(Held() == defaults);
    }
}

TEST_CASE_FIXTURE(VconvFixture,
                  "real zyr.exe: the format sequence writes the chosen default image over Wine's HID stack")
{
    const struct {
        int ect, connector;
        uint16_t version, type;
    } rows[] = {{IDYES, IDYES, 12300, 2}, {IDNO, IDNO, 10005, 3}};
    for (const auto &row : rows) {
        CAPTURE(row.version);
        CAPTURE(row.type);
        Registers scrambled;
        for (unsigned i = 0; i < 256; ++i)
            scrambled[i] = static_cast<uint8_t>(0xA5 ^ (i * 13));
        SetRegisters(scrambled);
        ClearTraffic();
        RealDialog dialog;
        dialog.PressF1(11);
        dialog.Click(IDC_READ_DEVICE);
        const int answers[4] = {IDYES, IDYES, row.ect, row.connector};
        for (int n = 0; n < 4; ++n) {
            CAPTURE(n);
            BoxView box = dialog.WaitBox("DEVICE FORMAT");
            REQUIRE(box.window != nullptr);
            CHECK(box.text == formatQuestions[n]);
            CHECK(box.buttons == FormatQuestionButtons(n));
            if (n == 0)
                CHECK(Traffic().empty());  // asked before anything is sent
            PostMessageA(GetDlgItem(box.window, answers[n]), BM_CLICK, 0, 0);
            CHECK(WaitGone(box.window));
        }
        CHECK_MESSAGE(dialog.WaitStatus(" Device Format Complete", 60000), dialog.Status());
        REQUIRE(dialog.WaitIdle());
        CHECK(Held() == DefaultRegisters(row.version, row.type));
        CHECK(WrittenAddresses().size() == 256);
        CHECK(dialog.Text(IDC_SPEED_ADJUST) == "0.0");
        CHECK(dialog.Enabled(IDC_WRITE_DEVICE));
        CHECK(dialog.Visible(IDC_TWO_WIRE_GROUP) == (row.type == 2 && row.version == 12300));
    }
}

TEST_CASE_FIXTURE(VconvFixture, "real zyr.exe: the close question during a write over Wine's HID stack")
{
    const char closeWarning[] =
        "You should NEVER exit during USB activity,\nexiting now can corrupt the device,\ndo you want to exit anyway?";
    // The read-back of register 6 is answered late, twice: the write stays
    // on it for a few seconds, then goes on.
    auto slowWrite = [&](RealDialog &dialog, int tenths) {
        ReadWith(dialog);
        ZyrvFaults f = Faults(0);
        f.lateMs = 1500;
        f.lateAt = 6;
        f.lateTimes = 1;
        SetFaults(f);
        dialog.SetText(IDC_SPEED_ADJUST, SpeedText(tenths));
        dialog.Click(IDC_WRITE_DEVICE);
        REQUIRE(dialog.WaitStatus(" Writing Device Data"));
        PostMessageA(dialog.Window(), WM_CLOSE, 0, 0);
        BoxView warning = dialog.WaitBox("WARNING!");
        REQUIRE(warning.window != nullptr);
        CHECK(warning.text == closeWarning);
        CHECK(warning.buttons == (std::vector<int>{IDYES, IDNO}));
        CHECK(warning.owner == dialog.Window());
        CHECK_FALSE(dialog.Enabled(IDC_READ_DEVICE));  // the write still runs
        return warning;
    };
    SUBCASE("No: the write goes on to its end, and the converter holds it")
    {
        RealDialog dialog;
        BoxView warning = slowWrite(dialog, -37);
        PostMessageA(GetDlgItem(warning.window, IDNO), BM_CLICK, 0, 0);
        CHECK(WaitGone(warning.window));
        CHECK_MESSAGE(dialog.WaitStatus(" Device Write OK"), dialog.Status());
        REQUIRE(dialog.WaitIdle());
        CHECK(IsWindowVisible(dialog.Window()));
        CHECK(Held()[6] == 37);
        CHECK(Held()[7] == 0x80);
        // Idle, the close box ends it at once with exit code 0.
        CHECK(dialog.CloseAndWait() == 0);
    }
    SUBCASE("Yes: the program ends at once with exit code 0; the next program finds the converter free")
    {
        RealDialog dialog;
        BoxView warning = slowWrite(dialog, 44);
        const DWORD start = GetTickCount();
        PostMessageA(GetDlgItem(warning.window, IDYES), BM_CLICK, 0, 0);
        CHECK(dialog.CloseAndWait(10000) == 0);
        CHECK(GetTickCount() - start < 5000);
        SetFaults(Faults(0));
        // The late reply to the ended program's request still comes, and
        // would reach the next program's handle first: wait until it has.
        bool allAnswered = false;
        for (int i = 0; i < 250 && !allAnswered; i++) {
            unsigned asked = 0, answered = 0;
            for (const Wire &w : Traffic())
                if (w.address == 6 && w.command == 2)
                    (w.direction == 0 ? asked : answered)++;
            allAnswered = asked == answered;
            if (!allAnswered)
                Sleep(20);
        }
        REQUIRE_MESSAGE(allAnswered, "a read request of the ended program was never answered");
        // Cut off within register 6: registers before it may be written,
        // none after it; a backup is taken at once, nothing was left open.
        std::string output;
        CHECK_MESSAGE(Zyrctl("backup after.zyr", output) == 0, output);
        CHECK(RowsOf(ReadText(folder + "after.zyr")) == Held());
        for (unsigned address : WrittenAddresses())
            CHECK(address <= 6);
    }
}

// Last: the converter stays unplugged for the rest of the session.
TEST_CASE_FIXTURE(VconvFixture,
                  "real zyrctl: a converter unplugged mid-write says so, with the backup that restores it")
{
    std::string output;
    // zyrctl first reads the converter through, then reads it through again
    // to see it is the same one, then its identity once more, then writes:
    // the unplug comes after the first writes.
    ZyrvFaults f = Faults(0);
    f.unplugAfter = 6 + 256 + 6 + 256 + 6 + 4;
    SetFaults(f);
    const DWORD start = GetTickCount();
    CHECK(Zyrctl("set speed=-4.0 sensor=high --yes", output) == 1);
    CHECK(GetTickCount() - start < 30000);
    CHECK_MESSAGE(Contains(output, "the converter may be partly written: zyrctl restore zyr-before-set-"), output);
    const std::string before = BeforeFile(output);
    REQUIRE(!before.empty());
    CHECK(WaitListed(0));
    // Whatever reached the converter before the unplug, it holds.
    const Registers held = Held();
    for (const Wire &w : Traffic())
        if (w.direction == 0 && w.command == 1)
            CHECK(held[w.address] == w.value);

    CHECK(held != DefaultRegisters(12300, 2));

    // Plugged in again as it was left, the converter takes the backup back:
    // every register as it was before the write.
    SetFaults(Faults(0));
    Plug(0, ZYRV_IDENTITY_CONVERTER, held, true);
    REQUIRE(WaitListed(1));
    CHECK(Zyrctl("restore " + before + " --yes", output) == 0);
    CHECK_MESSAGE(Contains(output, "every register holds what was meant"), output);
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
    if (at == std::string::npos || at + key.size() >= lower.size())
        return -1;
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
        CHECK_MESSAGE(Contains(Lower(output), "device path: " + Lower(listed[0])), output);
        CHECK_MESSAGE(Contains(output, firmware[first]), output);
        const std::vector<Wire> wire = Traffic();
        CHECK(!wire.empty());
        for (const Wire &w : wire)
            CHECK(w.slot == unsigned(first));
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
        CHECK_MESSAGE(Contains(output, "converter not found: no USB HID device with the converter's identity "
                                       "(16C0:03E8, \"Brantix\" \"ZYR-USB\") is attached"),
                      output);
        CHECK(Traffic().empty());
    }
}

namespace {

// Converter 0 back on the bus after an earlier case unplugged it: a
// plug-and-play arrival, listed within the fixture's wait.
bool Replugged(bool keepRegisters)
{
    ZyrvStatus status = {};
    if (!VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status))
        return false;
    if (status.converters[0].plugged && status.converters[0].present && ListedConverterPaths().size() == 1)
        return true;
    Registers registers = DefaultRegisters(12300, 2);
    if (keepRegisters)
        registers = VconvFixture::Held();
    VconvFixture::Plug(0, 0, registers, keepRegisters);
    // An arrival is listed within a second where replugging works.
    return WaitListedConverters(1, 5000);
}

const char *const noReplug = "converter 0 did not come back after its unplug";

}  // namespace

// Plugs converter 0 back itself, after the unplug above and after its own.
TEST_CASE("real zyr.exe: a converter unplugged mid-write says so, leaves nothing open, and a restore puts it back")
{
    REQUIRE_MESSAGE(Replugged(false), (std::string(noReplug) + ": the dialog's unplug mid-write"));
    VconvFixture fixture;
    std::string output;
    REQUIRE(fixture.Zyrctl("backup before.zyr", output) == 0);
    const Registers before = VconvFixture::Held();

    RealDialog dialog;
    ReadWith(dialog);
    dialog.SetText(IDC_SPEED_ADJUST, "-4.0");
    dialog.Click(IDC_SENSOR_HIGH_FREQ);
    ZyrvFaults f = VconvFixture::Faults(0);
    f.unplugAfter = 4 + 30;  // the identity words, then a few registers written
    VconvFixture::SetFaults(f);
    VconvFixture::ClearTraffic();
    const DWORD start = GetTickCount();
    dialog.Click(IDC_WRITE_DEVICE);
    CHECK_MESSAGE(dialog.WaitStatus(" WRITE ERROR L426", 30000), dialog.Status());
    REQUIRE(dialog.WaitIdle());
    CHECK(GetTickCount() - start < 30000);
    CHECK(VconvFixture::WaitListed(0));
    // The controls are back for the user; whatever reached the converter, it holds.
    CHECK(dialog.Enabled(IDC_READ_DEVICE));
    CHECK(dialog.Enabled(IDC_WRITE_DEVICE));
    const Registers held = VconvFixture::Held();
    bool wrote = false;
    for (const Wire &w : VconvFixture::Traffic())
        if (w.direction == 0 && w.command == 1) {
            CHECK(held[w.address] == w.value);
            wrote = true;
        }
    CHECK(wrote);
    // Nothing runs any more: the close box ends the program without a question.
    CHECK(dialog.CloseAndWait() == 0);

    REQUIRE_MESSAGE(Replugged(true), (std::string(noReplug) + ": the restore after the dialog's unplug"));
    VconvFixture::SetFaults(VconvFixture::Faults(0));
    CHECK_MESSAGE(fixture.Zyrctl("restore before.zyr --yes", output) == 0, output);
    CHECK(VconvFixture::Held() == before);
}
