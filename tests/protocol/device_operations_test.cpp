// Read Device, Write Device and Format Device through the real dialog over
// the simulated converter: what the user reads on the status line, which
// controls they can use afterwards, what the image and the converter hold,
// and that no handle or timer period is left behind, for every outcome.
#include "protocol/device_operations.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "protocol/report_transfer.h"
#include "tests/protocol/protocol_fixture.h"
#include "tests/support/lock_holder.h"

#include <doctest.h>

#include <array>
#include <string>
#include <vector>

using sim::FaultRule;

namespace {

// Start a format as the factory sequence does, from an idle dialog.
void FormatAndWait(DialogDriver &dialog)
{
    dialog.ClearStatusHistory();
    StartFormatWorker();
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
}

// A good read, then a clean slate for what the test does next.
void ReadConverter(DialogDriver &dialog, ConverterOnBus &bench)
{
    dialog.ClickAndWait(IDC_READ_DEVICE);
    REQUIRE(dialog.StatusHistory().back().rfind(" Read OK", 0) == 0);
    dialog.ClearStatusHistory();
    bench.bus.ClearTraffic();
}

// An image that differs from the converter in every register, of the
// firmware the format expects.
void FillImage()
{
    const auto pattern = ConverterPattern(12300, 2);
    for (int i = 0; i < 256; ++i)
        ConfigImage.SetByte(static_cast<uint8_t>(i), static_cast<uint8_t>(pattern[i] ^ 0x55));
    ConfigImage.SetWord(1, 12300);
    ConfigImage.SetWord(3, 2);
}

std::array<uint8_t, 256> ImageBytes()
{
    std::array<uint8_t, 256> bytes{};
    for (int i = 0; i < 256; ++i)
        bytes[i] = ConfigImage.Byte(static_cast<uint8_t>(i));
    return bytes;
}

// Read Device, Write Device or Format Device as the user starts each.
enum class Operation { read, write, format };

void Start(DialogDriver &dialog, Operation operation)
{
    dialog.ClearStatusHistory();
    if (operation == Operation::read)
        dialog.Click(IDC_READ_DEVICE);
    else if (operation == Operation::write)
        dialog.Click(IDC_WRITE_DEVICE);
    else
        StartFormatWorker();
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
}

const char *const outcomeText[] = {" Read OK        Ver:1.23.00        Device:VSS+ECT", " Device Write OK",
                                   " Device Format Complete"};

// The converter lock's calls, counted, and a failure when one is set.
struct LockCalls {
    static inline int creates = 0, closes = 0;
    static inline DWORD failCreate = 0;  // the error CreateMutexExA gives, 0: none
    static inline bool failWait = false;
    static inline BoundaryOverride<HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD)> *create;
    static inline BoundaryOverride<DWORD(WINAPI *)(HANDLE, DWORD)> *wait;
    static inline BoundaryOverride<BOOL(WINAPI *)(HANDLE)> *close;

    static HANDLE WINAPI Create(LPSECURITY_ATTRIBUTES attributes, LPCSTR name, DWORD flags, DWORD access)
    {
        if (failCreate) {
            SetLastError(failCreate);
            return nullptr;
        }
        HANDLE mutex = create->Original()(attributes, name, flags, access);
        creates += mutex != nullptr;
        return mutex;
    }
    static DWORD WINAPI Wait(HANDLE mutex, DWORD ms)
    {
        if (failWait) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        return wait->Original()(mutex, ms);
    }
    static BOOL WINAPI Close(HANDLE mutex)
    {
        ++closes;
        return close->Original()(mutex);
    }
};

struct CountedLock {
    CountedLock()
        : createEntry(&DeviceSyscalls::CreateMutexExA, LockCalls::Create),
          waitEntry(&DeviceSyscalls::WaitForMutex, LockCalls::Wait),
          closeEntry(&DeviceSyscalls::CloseMutex, LockCalls::Close)
    {
        LockCalls::create = &createEntry;
        LockCalls::wait = &waitEntry;
        LockCalls::close = &closeEntry;
        LockCalls::creates = LockCalls::closes = 0;
        LockCalls::failCreate = 0;
        LockCalls::failWait = false;
    }
    ~CountedLock()
    {
        LockCalls::failCreate = 0;
        LockCalls::failWait = false;
    }
    BoundaryOverride<HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD)> createEntry;
    BoundaryOverride<DWORD(WINAPI *)(HANDLE, DWORD)> waitEntry;
    BoundaryOverride<BOOL(WINAPI *)(HANDLE)> closeEntry;
};

}  // namespace

TEST_CASE("Read, Write and Format while another ZYR program has the converter: the status line says so, "
          "nothing else changes and nothing is sent; a lock its holder abandoned is taken over")
{
    enum Holder { heldElsewhere, abandoned, createFails, waitFails };
    struct Case {
        Operation operation;
        Holder holder;
        bool readFirst;  // the dialog shows an image when the button is pressed
        std::string refusal;  // empty: the operation goes on
    };
    const std::string busy = " Another ZYR program is using the converter";
    const Case cases[] = {
        {Operation::read, heldElsewhere, false, busy},
        {Operation::read, heldElsewhere, true, busy},
        {Operation::write, heldElsewhere, true, busy},
        {Operation::format, heldElsewhere, true, busy},
        {Operation::read, abandoned, false, ""},
        {Operation::write, abandoned, true, ""},
        {Operation::format, abandoned, true, ""},
        {Operation::read, createFails, true, " Converter lock failed (error 5); nothing sent"},
        {Operation::write, createFails, true, " Converter lock failed (error 5); nothing sent"},
        {Operation::format, waitFails, true, " Converter lock failed (error 6); nothing sent"},
    };
    for (const Case &c : cases) {
        CAPTURE(static_cast<int>(c.operation));
        CAPTURE(static_cast<int>(c.holder));
        CAPTURE(c.readFirst);
        ConverterOnBus bench;
        DialogDriver dialog;
        if (c.readFirst) {
            ReadConverter(dialog, bench);
            if (c.operation == Operation::format)
                FillImage();  // what the factory sequence puts there before it starts
        }
        // Typed, not yet written: a refused operation must not lose it.
        if (c.readFirst)
            dialog.SetText(IDC_SPEED_ADJUST, "-3.7");
        dialog.PressF1(2);
        const auto imageBefore = ImageBytes();
        const auto registersBefore = bench.converter.Registers();
        const int opensBefore = bench.bus.OpenHandlesTotal();
        bench.bus.ClearTraffic();

        CountedLock counted;
        LockCalls::failCreate = c.holder == createFails ? ERROR_ACCESS_DENIED : 0;
        LockCalls::failWait = c.holder == waitFails;
        {
            LockHolder other;
            if (c.holder == abandoned)
                other.Abandon();
            if (c.holder == createFails || c.holder == waitFails)
                other.Release();
            Start(dialog, c.operation);
            CHECK(workerHandle == nullptr);  // the worker ended
            if (c.refusal.empty()) {
                CHECK(dialog.StatusHistory().back() == outcomeText[static_cast<int>(c.operation)]);
                if (c.operation != Operation::read)
                    CHECK(bench.converter.Register(200) == ConfigImage.Byte(200));
                CHECK(WriteRequestsOnWire(bench.bus.Traffic()) == (c.operation == Operation::read    ? 0
                                                                   : c.operation == Operation::write ? 251
                                                                                                     : 256));
                CheckControls(dialog, true, true);
                // Let go again: a new holder gets it at once.
                CHECK(ConverterLockFree());
                continue;
            }
            CHECK(dialog.StatusHistory() == Texts{c.refusal});
            CHECK(dialog.Text(IDC_STATUS) == c.refusal);
            // Nothing reached the converter, not even the device search.
            CHECK(bench.bus.Traffic().empty());
            CHECK(bench.bus.OpenHandlesTotal() == opensBefore);
            CHECK(bench.converter.Registers() == registersBefore);
            // The image, the controls and what the user typed stay as they were.
            CHECK(ImageBytes() == imageBefore);
            CHECK(helpPressCount == 2);
            CheckControls(dialog, true, c.readFirst);
            if (c.readFirst)
                CHECK(dialog.Text(IDC_SPEED_ADJUST) == "-3.7");
        }
        CHECK(LockCalls::creates == LockCalls::closes);
        CheckNothingLeftBehind(bench.bus);
        if (c.holder != heldElsewhere)
            continue;
        // Once the other program has finished, the same press works.
        LockCalls::creates = LockCalls::closes = 0;
        Start(dialog, c.operation);
        CHECK(dialog.StatusHistory().back() == outcomeText[static_cast<int>(c.operation)]);
        CHECK(LockCalls::creates == 1);
        CHECK(LockCalls::closes == 1);
        CheckNothingLeftBehind(bench.bus);
    }
    CHECK_FALSE(ConverterLockExists());  // no handle on it left open
}

TEST_CASE("Read Device: ten progress steps, the version and the kind, the image and the controls")
{
    // Troubles a read recovers from within the retries.
    enum Trouble { none, unplugged, lateReply, lateReplyFlushFails };
    struct Case {
        uint16_t version, type;
        std::string text;
        Trouble trouble;
        // lateReply: the delays of the replies to the first read requests
        // of register 100, one after another; a wait ends at 500 ms
        std::vector<int> lateMs = {};
    };
    DialogDriver dialog;
    const Case cases[] = {{12300, 2, readOk, none},
                          {10005, 3, " Read OK        Ver:1.00.05        Device:VSS", none},
                          // unplugged at register 100, and back within the retries
                          {12300, 2, readOk, unplugged},
                          // Register 100 answered after the attempt stopped waiting: a
                          // reply is never taken for the answer to another request,
                          // whenever it comes, and the image is exact.
                          // In time, if slowly: nothing retried, nothing waited for.
                          {12300, 2, readOk, lateReply, {100}},
                          {12300, 2, readOk, lateReply, {499}},
                          // while the port is closed: the reply is lost
                          {12300, 2, readOk, lateReply, {550}},
                          // after the reopening, before the retried request
                          {12300, 2, readOk, lateReply, {600}},
                          // the same, where HidD_FlushQueue fails and flushes nothing
                          // (Wine 8.0): the retry reads the queue empty itself
                          {12300, 2, readOk, lateReplyFlushFails, {650}},
                          // while the retried request waits, which takes it; its own
                          // reply comes 200 ms after it, or later
                          {12300, 2, readOk, lateReply, {800, 200}},
                          {12300, 2, readOk, lateReply, {800, 10}},
                          {12300, 2, readOk, lateReply, {800, 450}},
                          {12300, 2, readOk, lateReply, {1000}},
                          {12300, 2, readOk, lateReply, {1500, 1500}},
                          {12300, 2, readOk, lateReply, {800, 800, 800}},
                          {12300, 2, readOk, lateReply, {2999}},
                          {12300, 2, readOk, lateReply, {3000, 3000}},
                          {12300, 2, readOk, lateReplyFlushFails, {3000, 200, 1200}}};
    for (const Case &c : cases) {
        INFO(c.text, ", trouble ", static_cast<int>(c.trouble));
        std::string delays;
        for (int ms : c.lateMs)
            delays += std::to_string(ms) + " ms ";
        INFO("late replies: ", delays);
        ConverterOnBus bench(c.version, c.type);
        if (c.trouble == unplugged) {
            FaultRule rule = Fault(FaultRule::Unplug, 2, 100, 1);
            rule.replugAfterMs = 50;
            bench.converter.AddFault(rule);
        }
        for (size_t i = 0; i < c.lateMs.size(); ++i) {
            FaultRule rule = Fault(FaultRule::LateReply, 2, 100, 1);
            rule.skip = static_cast<int>(i);
            rule.replyAfterMs = c.lateMs[i];
            bench.converter.AddFault(rule);
        }
        bench.converter.failFlushQueue = c.trouble == lateReplyFlushFails;
        dialog.ClearStatusHistory();
        dialog.ClickAndWait(IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == Then(ProgressTexts("Reading Device Data..."), {c.text}));
        CHECK(dialog.Text(IDC_STATUS) == c.text);
        CheckImage(bench.converter.Registers());
        const auto traffic = bench.bus.Traffic();
        const bool inTime = c.lateMs.empty() || c.lateMs[0] < static_cast<int>(reportTimeoutMs);
        if (inTime && c.trouble != unplugged) {
            CHECK(ReadRequestsOnWire(traffic) == 6 + 256);  // three words, then every register
            CHECK(bench.bus.Sleeps() == std::vector<DWORD>{5});  // only the pause after opening
        }
        if (!inTime)  // register 100 asked again, and once more on a quiet line
            CHECK(ReadRequestsOnWire(traffic) >= 6 + 256 + 2);
        CHECK(WriteRequestsOnWire(traffic) == 0);
        CheckControls(dialog, true, true);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Read Device failures and refusals: location code, status texts, image, controls")
{
    enum Setup { faulty, noConverter, readHandleRefused, writeHandleRefused, wrongFirmware };
    struct Case {
        Setup setup;
        FaultRule rule;
        Texts expected;
        int firstErased;  // the image holds device values below it, 0xFF from it
        uint16_t version = 12300, type = 2;
    };
    const Texts start = {" Reading Device Data..."};
    const Texts to30 = ProgressTexts("Reading Device Data...", 30);
    const Case cases[] = {
        {faulty, Fault(FaultRule::ReceiveFails, 2, 1), Then(start, {" Read Failed; ERR[1-2]", " READ ERROR L497"}), 0},
        {faulty, Fault(FaultRule::SendFails, 2, 1), Then(start, {" Read Failed; ERR[1-1]", " READ ERROR L497"}), 0},
        {faulty, Fault(FaultRule::NoReply, 2, 2), Then(start, {" Read Failed; ERR[1-4]", " READ ERROR L497"}), 0},
        {faulty, Fault(FaultRule::SendZero, 2, 4), Then(start, {" Read Failed; ERR[3-3]", " READ ERROR L498"}), 0},
        {faulty, Fault(FaultRule::ReceiveZero, 2, 3), Then(start, {" Read Failed; ERR[3-2]", " READ ERROR L498"}), 0},
        {faulty, Fault(FaultRule::ReceiveFails, 2, 255), Then(start, {" Read Failed; ERR[255-2]", " READ ERROR L499"}),
         0},
        {faulty, Fault(FaultRule::NoReply, 2, 0), Then(start, {" Read Failed; ERR[255-4]", " READ ERROR L499"}), 0},
        {faulty, Fault(FaultRule::ReceiveFails, 2, 100), Then(to30, {" Read Failed; ERR[100-2]", " READ ERROR L510"}),
         100},
        {faulty, Fault(FaultRule::NoReply, 2, 100), Then(to30, {" Read Failed; ERR[100-2]", " READ ERROR L510"}), 100},
        {faulty, Fault(FaultRule::SendZero, 2, 25), Then(start, {" Read Failed; ERR[25-1]", " READ ERROR L510"}), 25},
        {faulty, Fault(FaultRule::Unplug, 2, 100), Then(to30, {" USB open read failed", " READ ERROR L510"}), 100},
        {noConverter, {}, Then(start, {" USB device not found"}), 0},
        {readHandleRefused, {}, Then(start, {" USB open read failed", " USB device open failed"}), 0},
        {writeHandleRefused, {}, Then(start, {" USB open write failed", " USB device open failed"}), 0},
        // A converter it does not serve is refused before its registers are touched.
        {wrongFirmware, {}, Then(start, {" Wrong firmware version;  0x2710"}), 0, 10000, 2},
        {wrongFirmware, {}, Then(start, {" Wrong firmware version;  0xFFFF"}), 0, 0xFFFF, 2},
        {wrongFirmware, {}, Then(start, {" Wrong firmware type;  0x1"}), 0, 12300, 1},
        {wrongFirmware, {}, Then(start, {" Wrong firmware type;  0x4"}), 0, 10005, 4},
        // Both wrong: the version is checked first.
        {wrongFirmware, {}, Then(start, {" Wrong firmware version;  0x2710"}), 0, 10000, 4},
    };
    DialogDriver dialog;
    for (const Case &c : cases) {
        INFO(c.expected.back(), " at ", c.rule.address);
        ConverterOnBus bench(c.version, c.type);
        const auto registers = bench.converter.Registers();
        if (c.setup == faulty)
            bench.converter.AddFault(c.rule);
        bench.converter.failOpenRead = c.setup == readHandleRefused;
        bench.converter.failOpenWrite = c.setup == writeHandleRefused;
        if (c.setup == noConverter)
            bench.bus.Unplug(bench.converter);
        dialog.ClearStatusHistory();
        dialog.ClickAndWait(IDC_READ_DEVICE);
        CHECK(dialog.StatusHistory() == c.expected);
        CHECK(dialog.Text(IDC_STATUS) == c.expected.back());
        CheckImage(registers, c.firstErased);
        if (c.setup == faulty && (c.rule.kind == FaultRule::ReceiveFails || c.rule.kind == FaultRule::NoReply))
            CHECK(bench.converter.ReadsOf(c.rule.address) == 10);  // ten attempts reached it
        // Device opens: one by the search, the port's two handles, and two
        // more for each of the nine reopenings, which an unplugged converter
        // cuts short at the first.
        if (c.setup == faulty)
            CHECK(bench.bus.OpenHandlesTotal() == 1 + 2 + (c.rule.kind == FaultRule::Unplug ? 0 : 2 * 9));
        if (c.setup == wrongFirmware)
            CHECK(ReadRequestsOnWire(bench.bus.Traffic()) == 6);  // the three words only
        CHECK(WriteRequestsOnWire(bench.bus.Traffic()) == 0);
        CheckControls(dialog, true, false);
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
    dialog.ClickAndWait(IDC_WRITE_DEVICE);

    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Writing Device Data..."), {" Device Write OK"}));
    CHECK(ConfigImage.SpeedAdjust() == 0x8025);
    CHECK(bench.converter.Register(6) == 0x25);
    CHECK(bench.converter.Register(7) == 0x80);
    CheckImage(bench.converter.Registers());
    for (int r = 0; r < 256; ++r) {
        CAPTURE(r);
        CHECK(bench.converter.WritesTo(r) == (r < 5 ? 0 : 1));
    }
    const auto traffic = bench.bus.Traffic();
    CHECK(WriteRequestsOnWire(traffic) == 251);
    CHECK(ReadRequestsOnWire(traffic) == 6 + 251);  // the three words, then one read-back each
    const auto sleeps = bench.bus.Sleeps();
    CHECK(std::vector<DWORD>(sleeps.begin() + pausesBefore, sleeps.end()) == std::vector<DWORD>(1 + 251, 5));
    CHECK(dialog.Text(IDC_SPEED_ADJUST) == "-3.7");
    CheckControls(dialog, true, true);
    CheckNothingLeftBehind(bench.bus);

    // The read-back of register 100 answered late, once or more, with the
    // delays of a row: the write ends verified, and a stray reply never
    // fails (nor passes) another register's read-back, which would then be
    // written again.
    const std::vector<int> lateRows[] = {{600}, {800, 200}, {800, 10}, {1500, 1500}, {3000}, {2000, 300, 900}};
    for (const std::vector<int> &delays : lateRows) {
        CAPTURE(delays.size());
        CAPTURE(delays[0]);
        ReadConverter(dialog, bench);
        for (size_t i = 0; i < delays.size(); ++i) {
            FaultRule rule = Fault(FaultRule::LateReply, 2, 100, 1);
            rule.skip = static_cast<int>(i);
            rule.replyAfterMs = delays[i];
            bench.converter.AddFault(rule);
        }
        int writesBefore[256];
        for (int r = 0; r < 256; ++r)
            writesBefore[r] = bench.converter.WritesTo(r);
        dialog.ClearStatusHistory();
        dialog.ClickAndWait(IDC_WRITE_DEVICE);
        CHECK(dialog.StatusHistory().back() == " Device Write OK");
        CheckImage(bench.converter.Registers());
        for (int r = 5; r < 256; ++r)
            if (r != 100)
                CHECK_MESSAGE(bench.converter.WritesTo(r) - writesBefore[r] == 1, "register ", r);
        bench.converter.ClearFaults();
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Write Device failures and refusals: location code, what the converter holds, controls")
{
    struct Case {
        FaultRule rule;
        Texts expected;
        int failing;  // registers 5 to this one - 1 were written; -1: nothing
        bool failingWritten;  // the failing register's write request reached the converter
        int word = -1;  // refusals: a firmware word the converter changed since the read
        uint16_t wordValue = 0;
    };
    const Texts start = {" Writing Device Data..."};
    const Texts to30 = ProgressTexts("Writing Device Data...", 30);
    const Case cases[] = {
        {Fault(FaultRule::ReceiveFails, 2, 1), Then(start, {" Read Failed; ERR[1-2]", " WRITE ERROR L413"}), -1, false},
        {Fault(FaultRule::SendFails, 2, 3), Then(start, {" Read Failed; ERR[3-1]", " WRITE ERROR L414"}), -1, false},
        {Fault(FaultRule::NoReply, 2, 0), Then(start, {" Read Failed; ERR[255-4]", " WRITE ERROR L415"}), -1, false},
        {Fault(FaultRule::SendFails, 1, 100), Then(to30, {" Write Failed; ERR[100-1]", " WRITE ERROR L426"}), 100,
         false},
        {Fault(FaultRule::WrongReadBack, 2, 100), Then(to30, {" Write Failed; ERR[100-5]", " WRITE ERROR L426"}), 100,
         true},
        {Fault(FaultRule::SendZero, 1, 25), Then(start, {" Write Failed; ERR[25-1]", " WRITE ERROR L426"}), 25, false},
        {Fault(FaultRule::ReceiveZero, 2, 26),
         Then(ProgressTexts("Writing Device Data...", 10), {" Write Failed; ERR[26-4]", " WRITE ERROR L426"}), 26,
         true},
        {Fault(FaultRule::Unplug, 1, 200),
         Then(ProgressTexts("Writing Device Data...", 70), {" USB open read failed", " WRITE ERROR L426"}), 200, false},
        // The image belongs to another converter: nothing is written.
        {{}, Then(start, {" Wrong firmware version;  MEM:0x300C-0x2  DEV:0x300C-0x3"}), -1, false, 3, 3},
        {{}, Then(start, {" Wrong firmware version;  MEM:0x300C-0x2  DEV:0x2715-0x2"}), -1, false, 1, 10005},
    };
    DialogDriver dialog;
    for (const Case &c : cases) {
        INFO(c.expected.back(), " at ", c.rule.address);
        ConverterOnBus bench;
        ReadConverter(dialog, bench);
        dialog.SetText(IDC_SPEED_ADJUST, "20.1");
        const int opensBefore = bench.bus.OpenHandlesTotal();
        // The word reads at the start happen again on the write; a fault on
        // them is added now, after the read that set the dialog up.
        if (c.word < 0)
            bench.converter.AddFault(c.rule);
        else
            bench.converter.SetWord(c.word, c.wordValue);
        const auto before = bench.converter.Registers();
        dialog.ClickAndWait(IDC_WRITE_DEVICE);
        const bool reopened = c.word < 0 && c.rule.kind != FaultRule::Unplug;
        CHECK(bench.bus.OpenHandlesTotal() - opensBefore == 1 + 2 + (reopened ? 2 * 9 : 0));
        CHECK(dialog.StatusHistory() == c.expected);
        for (int r = 0; r < 256; ++r) {
            CAPTURE(r);
            const bool written = r >= 5 && r < c.failing;
            CHECK(bench.converter.WritesTo(r) == (written ? 1 : (r == c.failing && c.failingWritten) ? 10 : 0));
            if (written)
                CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
            else if (r != c.failing)
                CHECK(bench.converter.Register(r) == before[r]);
        }
        if (c.failing > 7)
            CHECK(bench.converter.Register(6) == 201);  // 20.1 % reached the converter
        CheckControls(dialog, true, true);  // the image stays usable whatever the result
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
    CHECK(dialog.Text(IDC_SPEED_ADJUST) == "12.5");  // the refresh shows the image again
    CheckControls(dialog, true, true);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("Format Device writes all registers from the image, 0 to 4 included, up to a failing one")
{
    DialogDriver dialog;
    for (int failing : {-1, 0, 100}) {
        CAPTURE(failing);
        ConverterOnBus bench(10005, 3);
        const auto before = bench.converter.Registers();
        FillImage();
        if (failing >= 0)
            bench.converter.AddFault(Fault(FaultRule::WrongReadBack, 2, failing));
        FormatAndWait(dialog);

        const int end = failing < 0 ? 256 : failing;
        const Texts expected =
            failing < 0 ? Then(ProgressTexts("Formatting Device..."), {" Device Format Complete"})
                        : Then(ProgressTexts("Formatting Device...", failing == 0 ? 0 : 30),
                               {" Write Failed; ERR[" + std::to_string(failing) + "-5]", " WRITE ERROR L461"});
        CHECK(dialog.StatusHistory() == expected);
        for (int r = 0; r < 256; ++r) {
            CAPTURE(r);
            if (r < end)
                CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
            if (r > end)
                CHECK(bench.converter.Register(r) == before[r]);
            CHECK(bench.converter.WritesTo(r) == (r < end ? 1 : r == end ? 10 : 0));
        }
        if (failing < 0) {
            const auto traffic = bench.bus.Traffic();
            CHECK(WriteRequestsOnWire(traffic) == 256);
            CHECK(ReadRequestsOnWire(traffic) == 256);  // read-backs only: no version or type check
        }
        CheckControls(dialog, true, true);
        CheckNothingLeftBehind(bench.bus);
    }
}

TEST_CASE("Format Device and Write Device without a converter")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    ReadConverter(dialog, bench);
    bench.bus.Unplug(bench.converter);

    dialog.ClickAndWait(IDC_WRITE_DEVICE);
    CHECK(dialog.StatusHistory() == Texts{" Writing Device Data...", " USB device not found"});
    CheckControls(dialog, true, true);
    FormatAndWait(dialog);
    CHECK(dialog.StatusHistory() == Texts{" Formatting Device...", " USB device not found"});
    CheckControls(dialog, true, true);
    CheckNothingLeftBehind(bench.bus);

    bench.bus.Replug(bench.converter);
    bench.converter.failOpenWrite = true;
    FormatAndWait(dialog);
    CHECK(dialog.StatusHistory() ==
          Texts{" Formatting Device...", " USB open write failed", " USB device open failed"});
    CheckNothingLeftBehind(bench.bus);
}
