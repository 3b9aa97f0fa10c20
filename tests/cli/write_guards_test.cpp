// Writing a converter from the command line: the round trip, the guards
// that refuse (each leaving the converter exactly as it was), a write cut
// off by an unplug, and writes that send only the registers they change.
#include "tests/cli/cli_fixture.h"

#include "settings/backup_file.h"
#include "cli/wide_names.h"
#include "config/default_images.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace {

// The factory image of another firmware or type, as the converter holds it.
void MakeConverter(sim::SimDevice &converter, uint16_t version, uint16_t type)
{
    RegisterImage image;
    const DefaultImage defaults = FindDefaultImage(version, type);
    image.LoadPrefix(defaults.bytes, defaults.length);
    converter.SetRegisters(RegistersOf(image));
}

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "backup, change, restore: the converter equals the backup again, in any folder")
{
    // Folders in several scripts and deeper than MAX_PATH, named in full or
    // relative to the current folder (this one): every file is found
    // under the name it was given, and Linux holds it under the exact
    // UTF-8 bytes of that name.
    const std::string deep = std::string(120, 'd') + "\\" + std::string(120, 'e');
    struct Row {
        const char *name;
        std::string folder;  // made below this one; "" is this one
        std::string relative;  // the file as given, relative; "" for its full path
    };
    const Row rows[] = {
        {"this folder", "", ""},
        {"Latin", "Ünïcødé", ""},
        {"Japanese", "日本語", ""},
        {"Greek", "Ελληνικά", ""},
        {"a blank and two scripts", "日本 é", ""},
        {"relative, through ..", "日本語", "Ελληνικά\\..\\日本語\\saved.zyr"},
        {"over 260 characters", "Ünïcødé\\" + deep, ""},
        {"over 260 characters, relative, through ..", deep + "\\日本語", deep + "\\日本語\\..\\日本語\\saved.zyr"},
    };
    for (const Row &row : rows) {
        SUBCASE(row.name)
        {
            const std::string in = row.folder.empty() ? folder : MakeFolder(row.folder);
            const std::string file = row.relative.empty() ? in + "saved.zyr" : row.relative;
            if (std::string(row.name).rfind("over 260", 0) == 0)
                REQUIRE(Utf16FromUtf8(in + "saved.zyr").size() > 260);
            CAPTURE(file);

            const Registers original = converter.Registers();
            CliRun run = Run({"backup", file});
            REQUIRE_MESSAGE(run.code == 0, run.err);
            CHECK_MESSAGE(run.out ==
                              "saved all 256 registers of the converter (firmware 1.23.00, VSS+ECT) to " + file + "\n",
                          run.out);
            run = Run({"show", file});
            CHECK_MESSAGE(run.code == 0, run.err);
            CHECK(Contains(run.out, "speed adjustment  0.0 %"));

            run = Run({"set", "speed=-7.5", "sensor=high", "table=ap2-res", "--yes"});
            REQUIRE_MESSAGE(run.code == 0, run.err);
            CHECK(converter.Registers() != original);
            CHECK(Run({"diff", file, "device"}).code == 5);

            run = Run({"restore", file, "--yes"});
            REQUIRE_MESSAGE(run.code == 0, run.err);
            CHECK(converter.Registers() == original);
            CHECK(Run({"diff", file, "device"}).code == 0);
            // Each write saved the converter first, the set here and the restore beside its file.
            CHECK(FilesStartingWith("zyr-before-set-").size() == 1);
            const std::vector<std::string> before = FilesStartingWith("zyr-before-restore-", in);
            REQUIRE(before.size() == 1);
            CHECK(Contains(run.out, "saved the converter's present registers to " +
                                        file.substr(0, file.size() - std::string("saved.zyr").size()) + before[0]));

            // The trace and the table's files go there too.
            CHECK(Run({"--trace", in + "wire.log", "show"}).code == 0);
            CHECK(Contains(ReadText(in + "wire.log"), " out "));
            CHECK(Run({"table", "ap1-res", "--export", in + "ap1.txt"}).code == 0);
            CHECK(Run({"table", "ap1-res", "--svg", in + "ap1.svg"}).code == 0);
            run = Run({"table", "ap1-res", "--import", in + "ap1.txt", "--yes"});
            CHECK_MESSAGE(run.code == 0, run.err);
            CHECK(Contains(run.out, "nothing to write"));

            // An existing file is replaced only with --force.
            const std::string saved = ReadText(file);
            run = Run({"backup", file});
            CHECK(run.code == 4);
            CHECK(run.err == "zyrctl: " + file + " already exists; it is overwritten only with --force\n");
            CHECK(ReadText(file) == saved);
            CHECK(Run({"backup", file, "--force"}).code == 0);
            for (const std::string &name : FilesStartingWith("zyr", in))
                CHECK_MESSAGE(name.find(".tmp") == std::string::npos, name);  // no temporary file left behind

            std::string linuxFolder = row.folder.empty() ? "" : row.folder + "/";
            for (char &c : linuxFolder)
                c = c == '\\' ? '/' : c;
            const std::vector<std::string> linux = LinuxFiles();
            std::string listing;
            for (const std::string &name : linux)
                listing += name + "\n";
            for (const std::string name : {"saved.zyr", "wire.log", "ap1.txt", "ap1.svg", before[0].c_str()}) {
                const std::string expected = linuxFolder + name;
                CHECK_MESSAGE(std::find(linux.begin(), linux.end(), expected) != linux.end(), expected, " not in\n",
                              listing);
            }
        }
    }
}

TEST_CASE_FIXTURE(CliFixture, "refused writes leave the converter as it was, register for register")
{
    const Registers factory = converter.Registers();
    const Registers changed = WriteChangedBackup("changed.zyr", 6, 35);  // +3.5 %
    const std::string good = ReadText(Path("changed.zyr"));

    struct Row {
        const char *name;
        std::function<void()> prepare;
        std::vector<std::string> args;
        int code;
        const char *says;
        bool console = false;
        const char *answer = "";
        std::function<void()> whileAsked = nullptr;
    };
    const Registers other = [&] {
        Registers r = factory;
        r[100] ^= 0x5A;
        return r;
    }();
    // file.zyr: the good file's text edited, or a backup of the changed
    // registers with some set otherwise.
    const auto textWith = [&](std::function<void(std::string &)> edit) {
        return [this, &good, edit] {
            std::string text = good;
            edit(text);
            WriteText("file.zyr", text);
        };
    };
    const auto backupWith = [&](std::vector<std::pair<int, uint8_t>> edits) {
        return [this, &changed, edits] {
            Registers edited = changed;
            for (const auto &[address, value] : edits)
                edited[address] = value;
            WriteBackup("file.zyr", edited);
        };
    };
    const Row rows[] = {
        {"a damaged file",
         textWith([](std::string &text) { text[text.find("\n00:") + 6] ^= 1; }),  // one hex digit of register 0
         {"restore", Path("file.zyr"), "--yes"},
         3,
         "nothing was written"},
        {"another format",
         textWith([](std::string &text) { text.replace(text.find("zyr-backup 1"), 12, "zyr-backup 2"); }),
         {"restore", Path("file.zyr"), "--yes"},
         3,
         "nothing was written"},
        {"a missing file", [] {}, {"restore", Path("missing.zyr"), "--yes"}, 3, "missing.zyr"},
        {"another firmware",
         backupWith({{1, 0x15}, {2, 0x27}}),  // 10005
         {"restore", Path("file.zyr"), "--yes"},
         4,
         "nothing was written"},
        {"another type", backupWith({{3, 3}}), {"restore", Path("file.zyr"), "--yes"}, 4, "nothing was written"},
        {"a speed over 25 %",
         backupWith({{6, 44}, {7, 1}}),  // 30.0 %
         {"restore", Path("file.zyr"), "--yes"},
         4,
         "--force"},
        {"a 5V table on firmware 10005, even with --force",
         [&] {
             MakeConverter(converter, 10005, 2);
             Registers other = converter.Registers();
             other[5] = 1, other[11] = 203;  // two-wire, AP1 5V
             WriteBackup("file.zyr", other);
         },
         {"restore", Path("file.zyr"), "--yes", "--force"},
         4,
         "nothing was written"},
        {"no --yes and no console", [] {}, {"restore", Path("changed.zyr")}, 4, "--yes"},
        {"no --yes, declined at the console", [] {}, {"restore", Path("changed.zyr")}, 4, "not confirmed", true, "n\n"},
        {"a dry run", [] {}, {"restore", Path("changed.zyr"), "--dry-run"}, 0, ""},
        // While the question waits, another unit of the same firmware takes
        // the converter's place: on another port, or on the same one.
        {"another converter in its place at the question",
         [] {},
         {"restore", Path("changed.zyr")},
         7,
         "not the one that was read (it is attached elsewhere now)",
         true,
         "y\n",
         [&] {
             converter.present = false;
             bus.Unplug(converter);
             bus.AddConverter().SetRegisters(other);
         }},
        {"another converter on the same port at the question",
         [] {},
         {"set", "speed=+1.0"},
         7,
         "its registers differ from those read at register 100",
         true,
         "yes\n",
         [&] { converter.SetRegisters(other); }},
        {"a 5V table on this VSS unit",
         [&] { MakeConverter(converter, 12300, 3); },
         {"set", "table=ap1-5v", "--yes"},
         4,
         "nothing was written"},
        {"a 5V table on firmware 10005",
         [&] { MakeConverter(converter, 10005, 2); },
         {"set", "table=ap1-5v", "--yes"},
         4,
         "nothing was written"},
        {"a sensor of another type", [] {}, {"set", "sensor=rsx", "--yes"}, 4, "nothing was written"},
        {"a speed out of range", [] {}, {"set", "speed=+25.1", "--yes"}, 2, "speed=+25.1"},
        {"no such setting", [] {}, {"set", "colour=red", "--yes"}, 2, "colour=red"},
        {"an editor text that breaks its rules",
         [&] { WriteText("table.txt", "01) 4000mV\r\n02) 4100mV\r\n"); },
         {"table", "ap1-res", "--import", Path("table.txt"), "--yes"},
         3,
         "nothing was written"},
    };
    for (const Row &row : rows) {
        SUBCASE(row.name)
        {
            row.prepare();
            const Registers before = converter.Registers();
            bus.ClearTraffic();
            const CliRun run = Run(row.args, row.console, row.answer, row.whileAsked);
            CHECK_MESSAGE(run.code == row.code, run.err);
            CHECK_MESSAGE(Contains(run.err, row.says), run.err);
            // A unit that took the place at the question holds what it held.
            CHECK(converter.Registers() == (row.whileAsked && converter.present ? other : before));
            CHECK(WrittenAddresses().empty());
            CHECK(FilesStartingWith("zyr-before-").empty());
        }
    }
}

TEST_CASE_FIXTURE(CliFixture, "an unplug mid-restore: exit 1 with the register, and the backup made first puts it back")
{
    const Registers original = converter.Registers();
    Registers wanted = original;
    for (int address = 100; address < 130; ++address)
        wanted[address] = static_cast<uint8_t>(address);
    WriteBackup("wanted.zyr", wanted);
    const std::vector<int> toWrite = Differing(original, wanted);
    REQUIRE(toWrite.size() > 12);
    // The converter goes at its 11th write request.
    converter.AddFault({sim::FaultRule::Unplug, 1, -1, 10, 1});

    // Values no dialog would store, so --force; the guard is tested elsewhere.
    CliRun run = Run({"restore", Path("wanted.zyr"), "--yes", "--force"});
    CHECK(run.code == 1);
    CHECK_MESSAGE(Contains(run.err, "writing register " + std::to_string(toWrite[10]) + " failed"), run.err);
    CHECK(Contains(run.err, "partly written"));
    CHECK(converter.Registers() != original);  // half-written, as the hardware would be

    const std::vector<std::string> backups = FilesStartingWith("zyr-before-restore-");
    REQUIRE(backups.size() == 1);
    BackupFile saved;
    REQUIRE(ParseBackupFile(ReadText(Path(backups[0])), saved).Ok());
    CHECK(RegistersOf(saved.image) == original);

    converter.ClearFaults();
    bus.Replug(converter);
    run = Run({"restore", Path(backups[0]), "--yes"});
    CHECK_MESSAGE(run.code == 0, run.err);
    CHECK(converter.Registers() == original);
}

TEST_CASE_FIXTURE(CliFixture, "set and table import write only the registers they change")
{
    const std::vector<std::vector<std::string>> rows = {
        {"set", "speed=+3.5"},
        {"set", "sensor=high"},
        {"set", "table=ap2-res"},
        {"set", "speed=-25", "sensor=low", "table=ap2-5v"},
        {"restore", "@changed", "--all"},
        {"table", "ap1-res", "--import", "@table"},
    };
    for (const std::vector<std::string> &row : rows) {
        const std::string name = ArgumentLine(row);
        SUBCASE(name.c_str())
        {
            WriteChangedBackup("changed.zyr", 6, 7);
            REQUIRE(Run({"table", "ap1-res", "--export", Path("table.txt")}).code == 0);
            std::string text = ReadText(Path("table.txt"));
            text.replace(text.find("02) ") + 4, 4, "3999");  // entry 2 becomes 3999 mV
            WriteText("table.txt", text);

            std::vector<std::string> args;
            for (const std::string &arg : row)
                args.push_back(arg == "@changed" ? Path("changed.zyr") : arg == "@table" ? Path("table.txt") : arg);
            args.push_back("--yes");
            const Registers before = converter.Registers();
            bus.ClearTraffic();
            const CliRun run = Run(args);
            REQUIRE_MESSAGE(run.code == 0, run.err);
            const std::vector<int> written = WrittenAddresses();
            if (row.back() == "--all") {
                CHECK(written.size() == 251);  // 5 to 255
                CHECK(written.front() == 5);
            } else {
                CHECK(!written.empty());
                CHECK(written == Differing(before, converter.Registers()));
            }
        }
    }
}

TEST_CASE_FIXTURE(CliFixture, "a register that reads back otherwise after the write: exit 1 with its address")
{
    // Register 6 answers truly to the first full read, to the read that
    // checks it is the same converter and to the protocol's own read-back,
    // then wrongly to the full read-back that follows.
    converter.AddFault({sim::FaultRule::WrongReadBack, 2, 6, 3, -1});
    const CliRun run = Run({"set", "speed=+3.5", "--yes"});
    CHECK(run.code == 1);
    CHECK_MESSAGE(Contains(run.err, "differs from what was written at register 6;"), run.err);
    CHECK(Contains(run.err, "zyrctl restore "));
    CHECK(converter.Register(6) == 35);
}

TEST_CASE_FIXTURE(CliFixture, "the progress bar: on a console only, and never with --quiet")
{
    errorIsConsole = true;
    CliRun run = Run({"backup", Path("a.zyr")});
    CHECK(run.code == 0);
    CHECK_MESSAGE(Contains(run.err, "reading [##############################] 100%"), run.err);
    CHECK(Run({"--quiet", "backup", Path("b.zyr")}).err.empty());
    CHECK(Run({"--quiet", "backup", Path("c.zyr")}).out.empty());
    errorIsConsole = false;
    run = Run({"backup", Path("d.zyr")});
    CHECK(run.err.empty());
    CHECK(Contains(run.out, "d.zyr"));
}
