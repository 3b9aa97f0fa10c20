// Read Device, Write Device and Format Device through the real dialog over
// the simulated converter: what the user reads on the status line, which
// controls they can use afterwards, what the image and the converter hold,
// and that no handle or timer period is left behind, for every outcome.
#include "protocol/device_operations.h"

#include "app/resource_ids.h"
#include "config/config_image.h"
#include "tests/protocol/protocol_fixture.h"

#include <doctest.h>

#include <string>
#include <vector>

using sim::FaultRule;

namespace {

using Texts = std::vector<std::string>;

const std::string readOk12300Ect = " Read OK        Ver:1.23.00        Device:VSS+ECT";

void PressAndWait(DialogDriver &dialog, int button)
{
    dialog.Click(button);
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
}

// Start a format as the factory sequence does, from an idle dialog.
void FormatAndWait(DialogDriver &dialog)
{
    StartFormatWorker();
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
}

Texts Then(Texts texts, std::initializer_list<std::string> more)
{
    texts.insert(texts.end(), more);
    return texts;
}

// Only Read Device usable: a failed read.
void CheckNoDataControls(const DialogDriver &dialog)
{
    CHECK(dialog.Enabled(IDC_READ_DEVICE));
    CHECK_FALSE(dialog.Enabled(IDC_WRITE_DEVICE));
    CHECK_FALSE(dialog.Enabled(IDC_FACTORY_DEFAULTS));
    CHECK_FALSE(dialog.Enabled(IDC_SPEED_ADJUST));
}

// The image shown: after a good read, or after any write or format.
void CheckImageControls(const DialogDriver &dialog)
{
    CHECK(dialog.Enabled(IDC_READ_DEVICE));
    CHECK(dialog.Enabled(IDC_WRITE_DEVICE));
    CHECK(dialog.Enabled(IDC_FACTORY_DEFAULTS));
    CHECK(dialog.Enabled(IDC_SPEED_ADJUST));
}

void CheckNothingLeftBehind(sim::SimBus &bus)
{
    CHECK(bus.OpenHandles() == 0);
    CHECK(bus.PendingReads() == 0);
    CHECK(bus.TimerPeriodDepth() == 0);
    CHECK(workerHandle == nullptr);
}

void CheckImageErased()
{
    for (int i = 0; i < 256; ++i)
        CHECK(ConfigImage.Byte(static_cast<uint8_t>(i)) == 0xFF);
}

// A good read, then a clean slate for what the test does next.
void ReadConverter(DialogDriver &dialog, ConverterOnBus &bench)
{
    PressAndWait(dialog, IDC_READ_DEVICE);
    REQUIRE(dialog.StatusHistory().back().rfind(" Read OK", 0) == 0);
    dialog.ClearStatusHistory();
    bench.bus.ClearTraffic();
}

FaultRule Fault(FaultRule::Kind kind, int command, int address, int times = -1)
{
    FaultRule rule;
    rule.kind = kind;
    rule.command = command;
    rule.address = address;
    rule.times = times;
    return rule;
}

// Device opens of an operation that ends in this fault: one by the search,
// the port's two handles, and two more for each of the nine reopenings,
// which an unplugged converter cuts short at the first.
int OpensFor(const FaultRule &rule)
{
    return 1 + 2 + (rule.kind == FaultRule::Unplug ? 0 : 2 * 9);
}

} // namespace

TEST_CASE("Read Device: ten progress steps, the version and the kind, the image and the controls")
{
    SUBCASE("firmware 1.23.00, VSS+ECT")
    {
        ConverterOnBus bench(12300, 2);
        DialogDriver dialog;
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == Then(ProgressTexts("Reading Device Data..."), {readOk12300Ect}));
        CHECK(dialog.Text(IDC_STATUS) == readOk12300Ect);
        const auto registers = bench.converter.Registers();
        for (int i = 0; i < 256; ++i)
            CHECK(ConfigImage.Byte(static_cast<uint8_t>(i)) == registers[i]);
        const auto traffic = bench.bus.Traffic();
        CHECK(ReadRequestsOnWire(traffic) == 6 + 256);  // three words, then every register
        CHECK(WriteRequestsOnWire(traffic) == 0);
        CHECK(bench.bus.Sleeps() == std::vector<DWORD>{5});  // only the pause after opening
        CheckImageControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
    SUBCASE("firmware 1.00.05, VSS")
    {
        ConverterOnBus bench(10005, 3);
        DialogDriver dialog;
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.Text(IDC_STATUS) == " Read OK        Ver:1.00.05        Device:VSS");
        CheckImageControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Read Device refuses a converter it does not serve, before touching the registers")
{
    struct Case {
        uint16_t version, type;
        const char *message;
    };
    DialogDriver dialog;
    for (const Case &c : {Case{10000, 2, " Wrong firmware version;  0x2710"},
                          Case{0xFFFF, 2, " Wrong firmware version;  0xFFFF"},
                          Case{12300, 1, " Wrong firmware type;  0x1"},
                          Case{10005, 4, " Wrong firmware type;  0x4"}}) {
        CAPTURE(c.message);
        ConverterOnBus bench(c.version, c.type);
        dialog.ClearStatusHistory();
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == Texts{" Reading Device Data...", c.message});
        CheckImageErased();
        CHECK(ReadRequestsOnWire(bench.bus.Traffic()) == 6);  // the three words only
        CheckNoDataControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Read Device failures: location code, status texts, image, controls")
{
    struct Case {
        FaultRule rule;
        Texts expected;
        int failingRegister;  // image holds device values below it, 0xFF from it; -1: all 0xFF
    };
    const Texts start = {" Reading Device Data..."};
    const std::vector<Case> cases = {
        {Fault(FaultRule::ReceiveFails, 2, 1), Then(start, {" Read Failed; ERR[1-2]", " READ ERROR L497"}), -1},
        {Fault(FaultRule::SendFails, 2, 1), Then(start, {" Read Failed; ERR[1-1]", " READ ERROR L497"}), -1},
        {Fault(FaultRule::NoReply, 2, 2), Then(start, {" Read Failed; ERR[1-4]", " READ ERROR L497"}), -1},
        {Fault(FaultRule::SendZero, 2, 4), Then(start, {" Read Failed; ERR[3-3]", " READ ERROR L498"}), -1},
        {Fault(FaultRule::ReceiveZero, 2, 3), Then(start, {" Read Failed; ERR[3-2]", " READ ERROR L498"}), -1},
        {Fault(FaultRule::ReceiveFails, 2, 255), Then(start, {" Read Failed; ERR[255-2]", " READ ERROR L499"}), -1},
        {Fault(FaultRule::NoReply, 2, 0), Then(start, {" Read Failed; ERR[255-4]", " READ ERROR L499"}), -1},
        {Fault(FaultRule::ReceiveFails, 2, 100),
         Then(ProgressTexts("Reading Device Data...", 30), {" Read Failed; ERR[100-2]", " READ ERROR L510"}), 100},
        {Fault(FaultRule::NoReply, 2, 100),
         Then(ProgressTexts("Reading Device Data...", 30), {" Read Failed; ERR[100-2]", " READ ERROR L510"}), 100},
        {Fault(FaultRule::SendZero, 2, 25), Then(start, {" Read Failed; ERR[25-1]", " READ ERROR L510"}), 25},
        {Fault(FaultRule::Unplug, 2, 100),
         Then(ProgressTexts("Reading Device Data...", 30), {" USB open read failed", " READ ERROR L510"}), 100},
    };
    DialogDriver dialog;
    for (const Case &c : cases) {
        CAPTURE(c.expected.back());
        CAPTURE(c.rule.address);
        ConverterOnBus bench;
        dialog.ClearStatusHistory();
        const auto registers = bench.converter.Registers();
        bench.converter.AddFault(c.rule);
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == c.expected);
        CHECK(dialog.Text(IDC_STATUS) == c.expected.back());
        for (int i = 0; i < 256; ++i) {
            const bool read = c.failingRegister >= 0 && i < c.failingRegister;
            CHECK(ConfigImage.Byte(static_cast<uint8_t>(i)) == (read ? registers[i] : 0xFF));
        }
        if (c.rule.kind == FaultRule::ReceiveFails || c.rule.kind == FaultRule::NoReply)
            CHECK(bench.converter.ReadsOf(c.rule.address) == 10);  // ten attempts reached it
        CHECK(bench.bus.OpenHandlesTotal() == OpensFor(c.rule));
        CHECK(WriteRequestsOnWire(bench.bus.Traffic()) == 0);
        CheckNoDataControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Read Device: no converter, or it cannot be opened")
{
    DialogDriver dialog;
    {
        INFO("nothing on the bus");
        sim::SimBus::Instance().Reset();
        dialog.ClearStatusHistory();
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == Texts{" Reading Device Data...", " USB device not found"});
        CheckImageErased();
        CheckNoDataControls(dialog);
        CheckNothingLeftBehind(sim::SimBus::Instance());
    }
    {
        INFO("the read handle cannot be opened");
        ConverterOnBus bench;
        bench.converter.failOpenRead = true;
        dialog.ClearStatusHistory();
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() ==
              Texts{" Reading Device Data...", " USB open read failed", " USB device open failed"});
        CheckNoDataControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
    {
        INFO("the write handle cannot be opened");
        ConverterOnBus bench;
        bench.converter.failOpenWrite = true;
        dialog.ClearStatusHistory();
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() ==
              Texts{" Reading Device Data...", " USB open write failed", " USB device open failed"});
        CheckNoDataControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
    {
        INFO("unplugged and back within the retries: the read completes");
        ConverterOnBus bench;
        FaultRule rule = Fault(FaultRule::Unplug, 2, 100, 1);
        rule.replugAfterMs = 50;
        bench.converter.AddFault(rule);
        dialog.ClearStatusHistory();
        PressAndWait(dialog, IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == Then(ProgressTexts("Reading Device Data..."), {readOk12300Ect}));
        const auto registers = bench.converter.Registers();
        for (int i = 0; i < 256; ++i)
            CHECK(ConfigImage.Byte(static_cast<uint8_t>(i)) == registers[i]);
        CheckImageControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Write Device: the user's settings reach registers 5 to 255, each verified; 0 to 4 are never written")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    ReadConverter(dialog, bench);
    const size_t pausesBefore = bench.bus.Sleeps().size();
    dialog.SetText(IDC_SPEED_ADJUST, "-3.7");
    PressAndWait(dialog, IDC_WRITE_DEVICE);

    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Writing Device Data..."), {" Device Write OK"}));
    CHECK(ConfigImage.SpeedAdjust() == 0x8025);
    CHECK(bench.converter.Register(6) == 0x25);
    CHECK(bench.converter.Register(7) == 0x80);
    const auto registers = bench.converter.Registers();
    for (int r = 0; r < 256; ++r) {
        CAPTURE(r);
        CHECK(bench.converter.WritesTo(r) == (r < 5 ? 0 : 1));
        CHECK(registers[r] == ConfigImage.Byte(static_cast<uint8_t>(r)));
    }
    const auto traffic = bench.bus.Traffic();
    CHECK(WriteRequestsOnWire(traffic) == 251);
    CHECK(ReadRequestsOnWire(traffic) == 6 + 251);  // the three words, then one read-back each
    const auto sleeps = bench.bus.Sleeps();
    CHECK(std::vector<DWORD>(sleeps.begin() + pausesBefore, sleeps.end()) == std::vector<DWORD>(1 + 251, 5));
    CHECK(dialog.Text(IDC_SPEED_ADJUST) == "-3.7");
    CheckImageControls(dialog);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("Write Device refuses a converter the image does not belong to, writing nothing")
{
    struct Case {
        int word;
        uint16_t deviceValue;
        const char *message;
    };
    DialogDriver dialog;
    for (const Case &c : {Case{3, 3, " Wrong firmware version;  MEM:0x300C-0x2  DEV:0x300C-0x3"},
                          Case{1, 10005, " Wrong firmware version;  MEM:0x300C-0x2  DEV:0x2715-0x2"}}) {
        CAPTURE(c.message);
        ConverterOnBus bench(12300, 2);
        ReadConverter(dialog, bench);
        bench.converter.SetWord(c.word, c.deviceValue);
        const auto before = bench.converter.Registers();
        PressAndWait(dialog, IDC_WRITE_DEVICE);
        CHECK(dialog.StatusHistory() == Texts{" Writing Device Data...", c.message});
        CHECK(WriteRequestsOnWire(bench.bus.Traffic()) == 0);
        CHECK(bench.converter.Registers() == before);
        CheckImageControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Write Device failures: location code, what the converter holds, controls")
{
    struct Case {
        FaultRule rule;
        Texts expected;
        int failingRegister;  // registers 5 to this one - 1 were written; -1: nothing
        bool failingWritten;  // the failing register's write request reached the converter
    };
    const Texts start = {" Writing Device Data..."};
    const std::vector<Case> cases = {
        {Fault(FaultRule::ReceiveFails, 2, 1), Then(start, {" Read Failed; ERR[1-2]", " WRITE ERROR L413"}), -1,
         false},
        {Fault(FaultRule::SendFails, 2, 3), Then(start, {" Read Failed; ERR[3-1]", " WRITE ERROR L414"}), -1, false},
        {Fault(FaultRule::NoReply, 2, 0), Then(start, {" Read Failed; ERR[255-4]", " WRITE ERROR L415"}), -1, false},
        {Fault(FaultRule::SendFails, 1, 100),
         Then(ProgressTexts("Writing Device Data...", 30), {" Write Failed; ERR[100-1]", " WRITE ERROR L426"}), 100,
         false},
        {Fault(FaultRule::WrongReadBack, 2, 100, -1),
         Then(ProgressTexts("Writing Device Data...", 30), {" Write Failed; ERR[100-5]", " WRITE ERROR L426"}), 100,
         true},
        {Fault(FaultRule::SendZero, 1, 25), Then(start, {" Write Failed; ERR[25-1]", " WRITE ERROR L426"}), 25, false},
        {Fault(FaultRule::ReceiveZero, 2, 26),
         Then(ProgressTexts("Writing Device Data...", 10), {" Write Failed; ERR[26-4]", " WRITE ERROR L426"}), 26,
         true},
        {Fault(FaultRule::Unplug, 1, 200),
         Then(ProgressTexts("Writing Device Data...", 70), {" USB open read failed", " WRITE ERROR L426"}), 200,
         false},
    };
    DialogDriver dialog;
    for (const Case &c : cases) {
        CAPTURE(c.expected.back());
        CAPTURE(c.rule.address);
        ConverterOnBus bench;
        ReadConverter(dialog, bench);
        dialog.SetText(IDC_SPEED_ADJUST, "20.1");
        const auto before = bench.converter.Registers();
        const int opensBefore = bench.bus.OpenHandlesTotal();
        // The word reads at the start happen again on the write; a fault on
        // them is added now, after the read that set the dialog up.
        bench.converter.AddFault(c.rule);
        PressAndWait(dialog, IDC_WRITE_DEVICE);
        CHECK(bench.bus.OpenHandlesTotal() - opensBefore == OpensFor(c.rule));

        CHECK(dialog.StatusHistory() == c.expected);
        for (int r = 0; r < 256; ++r) {
            CAPTURE(r);
            const bool written = r >= 5 && r < c.failingRegister;
            CHECK(bench.converter.WritesTo(r) ==
                  (written ? 1 : (r == c.failingRegister && c.failingWritten) ? 10 : 0));
            if (written)
                CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
            else if (r != c.failingRegister)
                CHECK(bench.converter.Register(r) == before[r]);
        }
        if (c.failingRegister > 7)
            CHECK(bench.converter.Register(6) == 201);  // 20.1 % reached the converter
        CheckImageControls(dialog);  // mode 3 whatever the result
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Write Device with a speed outside the range: the error box, and nothing sent")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    ReadConverter(dialog, bench);
    const auto before = bench.converter.Registers();
    dialog.SetText(IDC_SPEED_ADJUST, "25.1");
    dialog.Click(IDC_WRITE_DEVICE);
    BoxView box = WaitForBox("Error");
    REQUIRE(box.window != nullptr);
    CHECK(box.text == "Speed Adjustment value is out of range!");
    PressBoxButton(box, IDOK);
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
    CHECK(dialog.StatusHistory().empty());
    CHECK(bench.bus.Traffic().empty());
    CHECK(bench.converter.Registers() == before);
    CHECK(dialog.Text(IDC_SPEED_ADJUST) == "12.5");  // the mode-3 refresh shows the image again
    CheckImageControls(dialog);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("Format Device writes all 256 registers from the image, 0 to 4 included")
{
    ConverterOnBus bench(10005, 3);
    DialogDriver dialog;
    const auto image = ConverterPattern(12300, 2);
    for (int i = 0; i < 256; ++i)
        ConfigImage.SetByte(static_cast<uint8_t>(i), static_cast<uint8_t>(image[i] ^ 0x55));
    ConfigImage.SetWord(1, 12300);
    ConfigImage.SetWord(3, 2);
    FormatAndWait(dialog);

    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Formatting Device..."), {" Device Format Complete"}));
    for (int r = 0; r < 256; ++r) {
        CAPTURE(r);
        CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
        CHECK(bench.converter.WritesTo(r) == 1);
    }
    const auto traffic = bench.bus.Traffic();
    CHECK(WriteRequestsOnWire(traffic) == 256);
    CHECK(ReadRequestsOnWire(traffic) == 256);  // read-backs only: no version or type check
    CheckImageControls(dialog);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("Format Device failures: location 461, the converter written up to the failing register")
{
    DialogDriver dialog;
    for (int failing : {0, 100}) {
        CAPTURE(failing);
        ConverterOnBus bench;
        dialog.ClearStatusHistory();
        const auto before = bench.converter.Registers();
        for (int i = 0; i < 256; ++i)
            ConfigImage.SetByte(static_cast<uint8_t>(i), static_cast<uint8_t>(i));
        ConfigImage.SetWord(1, 12300);
        ConfigImage.SetWord(3, 2);
        bench.converter.AddFault(Fault(FaultRule::WrongReadBack, 2, failing));
        FormatAndWait(dialog);

        const Texts expected =
            Then(failing == 0 ? Texts{" Formatting Device..."} : ProgressTexts("Formatting Device...", 30),
                 {" Write Failed; ERR[" + std::to_string(failing) + "-5]", " WRITE ERROR L461"});
        CHECK(dialog.StatusHistory() == expected);
        for (int r = 0; r < 256; ++r) {
            CAPTURE(r);
            if (r < failing)
                CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
            if (r > failing)
                CHECK(bench.converter.Register(r) == before[r]);
            CHECK(bench.converter.WritesTo(r) == (r < failing ? 1 : r == failing ? 10 : 0));
        }
        CheckImageControls(dialog);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Format Device and Write Device without a converter")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    ReadConverter(dialog, bench);
    bench.bus.Unplug(bench.converter);

    PressAndWait(dialog, IDC_WRITE_DEVICE);
    CHECK(dialog.StatusHistory() == Texts{" Writing Device Data...", " USB device not found"});
    CheckImageControls(dialog);

    dialog.ClearStatusHistory();
    FormatAndWait(dialog);
    CHECK(dialog.StatusHistory() == Texts{" Formatting Device...", " USB device not found"});
    CheckImageControls(dialog);
    CheckNothingLeftBehind(bench.bus);

    bench.bus.Replug(bench.converter);
    bench.converter.failOpenWrite = true;
    dialog.ClearStatusHistory();
    FormatAndWait(dialog);
    CHECK(dialog.StatusHistory() ==
          Texts{" Formatting Device...", " USB open write failed", " USB device open failed"});
    CheckNothingLeftBehind(bench.bus);
}
