// The demo programs as processes of their own, sharing one simulated
// converter through ZYR_SIM_STATE: what zyrctl writes the dialog reads,
// and what the dialog writes zyrctl shows. A bad ZYR_SIM_FAULT is refused
// at start with its reason. The shipped zyrctl without hid.dll tells it on
// standard error, never in a box a script would wait on.
#include "tests/cli/cli_fixture.h"

#include "base/no_copy.h"
#include "app/resource_ids.h"
#include "cli/wide_names.h"
#include "sim/sim_fault_text.h"
#include "tests/support/child_process.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/lock_holder.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include "cli/commands.h"

#include <algorithm>
#include <string>

namespace {

// The text of an edit control of another process, which only it can tell.
std::string EditText(HWND edit)
{
    char text[64] = {};
    SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// Runs zyrctl_demo with `args`; its exit code, and its output in `output`.
DWORD Zyrctl(CliFixture &fixture, const std::string &args, std::string &output)
{
    const std::string log = fixture.Path("zyrctl.log");
    ChildProcess zyrctl("\"" + ProgramPath("zyrctl_demo.exe") + "\" " + args, log);
    const DWORD code = zyrctl.WaitForExit();
    output = fixture.ReadText(log);
    return code;
}

// An environment variable for the programs this test starts; UTF-8, set wide.
struct Environment {
    Environment(const char *name, const std::string &value) : name(name)
    {
        SetEnvironmentVariableW(Utf16FromUtf8(name).c_str(), Utf16FromUtf8(value).c_str());
    }
    ~Environment() { SetEnvironmentVariableW(Utf16FromUtf8(name).c_str(), nullptr); }
    const char *name;
};

// Wine's own switch, per program: it loads no library that an override of
// that program disables, so the program's LoadLibrary of it fails, as on a
// system without the library. Only that program is touched, and only while
// this lives; keys that were there before stay.
class LibraryDisabled : private NoCopy {
public:
    LibraryDisabled(const char *program, const char *library) : library(library)
    {
        programKey = std::string("Software\\Wine\\AppDefaults\\") + program;
        overridesKey = programKey + "\\DllOverrides";
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, programKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            createdKeys = true;
        REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, overridesKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) == ERROR_SUCCESS);
        const LONG set = RegSetValueExA(key, library, 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1);
        RegCloseKey(key);
        REQUIRE(set == ERROR_SUCCESS);
    }
    ~LibraryDisabled()
    {
        if (createdKeys) {
            RegDeleteKeyA(HKEY_CURRENT_USER, overridesKey.c_str());
            RegDeleteKeyA(HKEY_CURRENT_USER, programKey.c_str());
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, overridesKey.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, library);
            RegCloseKey(key);
        }
    }

private:
    const char *library;
    std::string programKey, overridesKey;
    bool createdKeys = false;
};

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "process: zyrctl_demo and zyr_demo see one converter through ZYR_SIM_STATE")
{
    Environment state("ZYR_SIM_STATE", Path("converter.txt"));
    std::string output;
    REQUIRE_MESSAGE(Zyrctl(*this, "set speed=+3.5 sensor=high --yes", output) == 0, output);
    REQUIRE(!ReadText(Path("converter.txt")).empty());

    {
        ChildProcess dialog("\"" + ProgramPath("zyr_demo.exe") + "\"");
        HWND window = dialog.WaitForWindow("Brantix ZYR");
        REQUIRE(PressAndWait(window, IDC_READ_DEVICE, " Read OK        Ver:1.23.00        Device:VSS+ECT"));
        CHECK(EditText(GetDlgItem(window, IDC_SPEED_ADJUST)) == "3.5");
        CHECK(SendMessageA(GetDlgItem(window, IDC_SENSOR_HIGH_FREQ), BM_GETCHECK, 0, 0) == BST_CHECKED);

        SendMessageA(GetDlgItem(window, IDC_SPEED_ADJUST), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("-1.5"));
        REQUIRE(PressAndWait(window, IDC_WRITE_DEVICE, " Device Write OK"));
        PostMessageA(window, WM_CLOSE, 0, 0);
        CHECK(dialog.WaitForExit() == 0);
    }

    CHECK(Zyrctl(*this, "show", output) == 0);
    CHECK_MESSAGE(output.find("speed adjustment  -1.5 %") != std::string::npos, output);
    CHECK_MESSAGE(output.find("speed sensor      high") != std::string::npos, output);

    // A state file that cannot be made is refused at start, not lost later.
    Environment missing("ZYR_SIM_STATE", Path("no-such-folder\\converter.txt"));
    CHECK(Zyrctl(*this, "info", output) == 2);
    CHECK_MESSAGE(output.find("there is no such file and it cannot be created") != std::string::npos, output);
}

TEST_CASE_FIXTURE(CliFixture, "process: names in any script and of any length, as given and in messages, redirected")
{
    // What a user's shell hands over, and what a script reading the output
    // gets back: the same name, its UTF-8 bytes exactly.
    const std::string deep = MakeFolder("日本語\\" + std::string(120, 'd') + "\\" + std::string(120, 'e'));
    const std::string state = MakeFolder("Ελληνικά") + "converter.txt";
    const std::string blank = MakeFolder("日本 é") + "b.zyr";
    const std::string jose = MakeFolder("José") + "b.zyr";
    const std::string saved = "saved all 256 registers of the converter (firmware 1.23.00, VSS+ECT) to ";
    REQUIRE(Utf16FromUtf8(deep + "backup.zyr").size() > 260);
    Environment stateFile("ZYR_SIM_STATE", state);
    struct Row {
        std::string args;
        DWORD code;
        std::string output;  // standard output and error, byte for byte
    };
    const Row rows[] = {
        {"backup \"" + blank + "\"", 0, saved + blank + "\n"},
        {"backup \"" + deep + "backup.zyr\"", 0, saved + deep + "backup.zyr\n"},
        {"backup \"" + jose + "\"", 0, saved + jose + "\n"},
        {"backup \"" + deep + "backup.zyr\"", 4,
         "zyrctl: " + deep + "backup.zyr already exists; it is overwritten only with --force\n"},
        {"diff \"" + jose + "\" \"" + deep + "backup.zyr\"", 0, "no differences\n"},
        {"show \"" + deep + "absent.zyr\" --json", 3, "zyrctl: cannot open " + deep + "absent.zyr: "},
        {"set speed=+2.5 --yes", 0, ""},
        {"diff \"" + blank + "\" device", 5, "speed adjustment"},
        {"restore \"" + blank + "\" --yes", 0,
         "saved the converter's present registers to " + MakeFolder("日本 é") + "zyr-before-restore-"},
        {"diff device \"" + deep + "backup.zyr\"", 0, "no differences\n"},
    };
    for (const Row &row : rows) {
        CAPTURE(row.args);
        std::string output;
        CHECK(Zyrctl(*this, row.args, output) == row.code);
        // A whole line is the whole output; otherwise it begins so.
        if (!row.output.empty() && row.output.back() == '\n')
            CHECK_MESSAGE(output == row.output, output);
        else
            CHECK_MESSAGE(output.compare(0, row.output.size(), row.output) == 0, output);
    }
    CHECK(Contains(ReadText(state), "ZYR_SIM_STATE"));
    const std::vector<std::string> linux = LinuxFiles();
    CHECK(std::find(linux.begin(), linux.end(), "Ελληνικά/converter.txt") != linux.end());
    CHECK(std::find(linux.begin(), linux.end(), "日本 é/b.zyr") != linux.end());
    CHECK(std::find(linux.begin(), linux.end(), "José/b.zyr") != linux.end());

    // The demo's own refusal names its state file the same way.
    const std::string missing = folder + "Ünïcødé\\converter.txt";
    Environment noFolder("ZYR_SIM_STATE", missing);
    std::string output;
    CHECK(Zyrctl(*this, "info", output) == 2);
    CHECK(output == "ZYR_SIM_STATE=" + missing + ": there is no such file and it cannot be created\n");
}

TEST_CASE_FIXTURE(CliFixture, "process: ZYR_SIM_FAULT injects a fault, and a bad one is refused with its reason")
{
    Environment state("ZYR_SIM_STATE", Path("converter.txt"));
    std::string output;
    {
        Environment fault("ZYR_SIM_FAULT", "unplug,on=write,after=1");
        CHECK(Zyrctl(*this, "set speed=+3.5 sensor=high --yes", output) == 1);
        CHECK_MESSAGE(output.find("writing register 8 failed") != std::string::npos, output);
    }
    // The unplug came at the second write: the first one stays, as on the hardware.
    CHECK(Zyrctl(*this, "show", output) == 0);
    CHECK_MESSAGE(output.find("speed adjustment  3.5 %") != std::string::npos, output);
    CHECK_MESSAGE(output.find("speed sensor      low") != std::string::npos, output);
    {
        Environment fault("ZYR_SIM_FAULT", "unplug,after=x");
        CHECK(Zyrctl(*this, "info", output) == 2);
        CHECK_MESSAGE(output.find("\"after=x\" is not a setting of a fault") != std::string::npos, output);
    }

    // Every register its own value, and register 10 answered 800 ms late,
    // then its retried request 200 ms late: the first reply comes while the
    // retried request waits, its own one request later. The backup holds
    // exactly what the converter holds.
    unsigned char distinct[256];
    for (int r = 0; r < 256; ++r)
        distinct[r] = static_cast<unsigned char>(r * 7 + 3);
    distinct[1] = 0x0C, distinct[2] = 0x30, distinct[3] = 2, distinct[4] = 0;  // firmware 12300, type 2
    WriteText("converter.txt", sim::FormatSimState(distinct));
    {
        Environment fault("ZYR_SIM_FAULT",
                          "late-reply,at=10,times=1,delay=800;late-reply,at=10,after=1,times=1,delay=200");
        CHECK_MESSAGE(Zyrctl(*this, "backup x.zyr", output) == 0, output);
    }
    RegisterImage saved;
    const Outcome loaded = LoadBackupFile(Path("x.zyr"), saved);
    REQUIRE_MESSAGE(loaded.Ok(), loaded.message);
    Registers expected;
    std::copy(distinct, distinct + 256, expected.begin());
    CHECK(RegistersOf(saved) == expected);
}

TEST_CASE_FIXTURE(CliFixture, "process: zyrctl without hid.dll says so on standard error, shows no box and exits 1")
{
    // The shipped program, bound to Win32, on a system without hid.dll.
    LibraryDisabled noHid("zyrctl.exe", "hid");
    for (const std::string args : {"info", "show --json"}) {
        CAPTURE(args);
        const std::string log = Path("zyrctl.log");
        std::string output;
        {
            ChildProcess zyrctl("\"" + ProgramPath("zyrctl.exe") + "\" " + args, log);
            // A box would keep the program waiting: watch for any window until it ends.
            bool windowShown = false;
            const DWORD start = GetTickCount();
            while (!zyrctl.Ended(20) && GetTickCount() - start < 30000)
                windowShown = windowShown || FindTopWindow(zyrctl.Id(), "") != nullptr;
            CHECK_FALSE(windowShown);
            CHECK(zyrctl.WaitForExit(0) == 1);
            output = ReadText(log);
        }
        CHECK_MESSAGE(output.substr(0, output.find_first_of("\r\n")) == "zyrctl: Failed to load HID.DLL", output);
        CHECK_MESSAGE(output.find("Failed to load HID.DLL", output.find('\n')) == std::string::npos, output);  // once
        CHECK_MESSAGE(output.find("zyrctl: converter not found: the system's HID library (hid.dll) could not be "
                                  "loaded, so no USB HID device can be looked for") != std::string::npos,
                      output);
    }
}

namespace {

// The registers of a backup file, or nothing when it is missing or damaged.
bool BackupRegisters(const std::string &path, Registers &registers)
{
    RegisterImage image;
    if (!LoadBackupFile(path, image).Ok())
        return false;
    registers = RegistersOf(image);
    return true;
}

// The registers zyrctl_demo backs up from the converter of ZYR_SIM_STATE
// while nothing else uses it: what the cases below compare with.
Registers BackupAlone(CliFixture &fixture)
{
    std::string output;
    REQUIRE_MESSAGE(Zyrctl(fixture, "backup " + fixture.Path("alone.zyr"), output) == 0, output);
    Registers alone{};
    REQUIRE(BackupRegisters(fixture.Path("alone.zyr"), alone));
    return alone;
}

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "process: while another ZYR program has the converter, zyrctl_demo and zyr_demo "
                              "refuse with nothing sent; an abandoned lock is taken over")
{
    Environment state("ZYR_SIM_STATE", Path("converter.txt"));
    const Registers alone = BackupAlone(*this);
    std::string output;
    const std::string stateBefore = ReadText(Path("converter.txt"));

    LockHolder other;
    struct Row {
        std::string args;
        std::string says;
    };
    for (const Row &row : {Row{"--wait 0 backup " + Path("refused.zyr"), "(waited 0 s); nothing was sent"},
                           Row{"--wait 1 set speed=+3.5 --yes", "(waited 1 s); nothing was sent"}}) {
        CAPTURE(row.args);
        CHECK(Zyrctl(*this, row.args, output) == 1);
        CHECK_MESSAGE(
            output.find("zyrctl: another ZYR program is using the converter " + row.says) != std::string::npos, output);
    }
    CHECK(FilesStartingWith("refused").empty());
    CHECK(ReadText(Path("converter.txt")) == stateBefore);

    {
        ChildProcess dialog("\"" + ProgramPath("zyr_demo.exe") + "\"");
        HWND window = dialog.WaitForWindow("Brantix ZYR");
        CHECK(PressAndWait(window, IDC_READ_DEVICE, " Another ZYR program is using the converter"));
        CHECK(IsWindowEnabled(GetDlgItem(window, IDC_READ_DEVICE)));
        CHECK_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_WRITE_DEVICE)));
        // The other program ends without letting go: the next press takes over.
        other.Abandon();
        CHECK(PressAndWait(window, IDC_READ_DEVICE, " Read OK        Ver:1.23.00        Device:VSS+ECT"));
        PostMessageA(window, WM_CLOSE, 0, 0);
        CHECK(dialog.WaitForExit() == 0);
    }
    CHECK(Zyrctl(*this, "--wait 0 backup " + Path("after.zyr"), output) == 0);
    Registers after{};
    CHECK(BackupRegisters(Path("after.zyr"), after));
    CHECK(after == alone);
}

TEST_CASE_FIXTURE(CliFixture, "process: two zyrctl_demo backups started together give exact files, or one exact "
                              "file and the refusal")
{
    Environment state("ZYR_SIM_STATE", Path("converter.txt"));
    const Registers alone = BackupAlone(*this);

    // With the default wait each waits for the other; with none, the
    // later one may be refused.
    int run = 0;
    for (const std::string wait : {"", "--wait 0 "}) {
        for (int round = 0; round < 3; ++round, ++run) {
            CAPTURE(wait);
            CAPTURE(round);
            const std::string file[2] = {Path("a" + std::to_string(run) + ".zyr"),
                                         Path("b" + std::to_string(run) + ".zyr")};
            const std::string log[2] = {Path("a.log"), Path("b.log")};
            DWORD code[2];
            {
                ChildProcess first("\"" + ProgramPath("zyrctl_demo.exe") + "\" " + wait + "backup " + file[0], log[0]);
                ChildProcess second("\"" + ProgramPath("zyrctl_demo.exe") + "\" " + wait + "backup " + file[1], log[1]);
                code[0] = first.WaitForExit();
                code[1] = second.WaitForExit();
            }
            int saved = 0;
            for (int i = 0; i < 2; ++i) {
                const std::string said = ReadText(log[i]);
                CAPTURE(said);
                Registers registers{};
                if (code[i] == 0) {
                    ++saved;
                    CHECK(Contains(said, "saved all 256 registers"));
                    REQUIRE(BackupRegisters(file[i], registers));
                    CHECK(registers == alone);
                } else {
                    CHECK(code[i] == 1);
                    CHECK(Contains(said, "zyrctl: another ZYR program is using the converter (waited 0 s); "
                                         "nothing was sent"));
                    CHECK_FALSE(BackupRegisters(file[i], registers));
                }
            }
            CHECK(saved >= 1);
            if (wait.empty())
                CHECK(saved == 2);
        }
    }
    CHECK_FALSE(ConverterLockExists());
}
