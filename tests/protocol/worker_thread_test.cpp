// The worker thread around the device operations: the busy guard, the
// dialog staying responsive, the Help-press unlock, the close guard with
// the cut-off at exit, and the worker's thread handle.
#include "protocol/device_operations.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "tests/protocol/protocol_fixture.h"

#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// How long the dialog takes to answer a message sent to it, in ms; -1 when
// it did not answer within a second.
long AnswerTimeMs(HWND dialog)
{
    DWORD_PTR result = 0;
    const DWORD start = GetTickCount();
    if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result))
        return -1;
    return static_cast<long>(GetTickCount() - start);
}

// Close during an operation and answer Yes: the dialog ends without waiting
// for the worker, which exit then ends.
void ExitDuringOperation(DialogDriver &dialog)
{
    dialog.Close();
    BoxView box = WaitForBox("WARNING!", 5000, dialog.Dialog());
    REQUIRE(box.window != nullptr);
    PressBoxButton(box, IDYES);
    REQUIRE(dialog.Ended());
    CHECK(dialog.Result() == 0);
    CHECK(workerHandle != nullptr);
    EndWorkerBeforeExit();
    CHECK(workerHandle == nullptr);
}

// Starts the factory format (Read Device with F1 held) and answers Yes to
// its first `count` questions, each in a box of its own.
void AnswerFormatQuestions(DialogDriver &dialog, int count)
{
    dialog.PressF1(11);
    dialog.Click(IDC_READ_DEVICE);
    for (int question = 0; question < count; ++question) {
        CAPTURE(question);
        BoxView box = WaitForBox("DEVICE FORMAT", 5000);
        REQUIRE(box.window != nullptr);
        PressBoxButton(box, IDYES);
    }
}

}  // namespace

TEST_CASE("while an operation runs: controls disabled, the dialog answers, a second start does nothing, "
          "closing asks first and No lets the operation finish")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    {
        WorkerGate gate(5, 1);  // held in the pause right after opening the port
        dialog.Click(IDC_READ_DEVICE);
        REQUIRE(gate.WaitHeld());
        dialog.Sync();
        HANDLE running = workerHandle;
        CHECK(running != nullptr);
        CheckControls(dialog, false, false);
        CHECK(bench.bus.TimerPeriodDepth() == 1);  // 1 ms timer while the operation runs
        CHECK(bench.bus.OpenHandles() == 2);

        const long answer = AnswerTimeMs(dialog.Dialog());
        CHECK(answer >= 0);
        CHECK(answer < 200);

        // Presses behind the disabled buttons and the factory sequence's
        // own start: each finds the worker busy and does nothing.
        dialog.PressF1(2);
        dialog.Command(IDC_READ_DEVICE);
        dialog.Command(IDC_WRITE_DEVICE);
        StartFormatWorker();
        CHECK(helpPressCount == 2);
        CHECK(workerHandle == running);

        dialog.Close();
        BoxView box = WaitForBox("WARNING!", 5000, dialog.Dialog());
        REQUIRE(box.window != nullptr);
        CHECK(box.text == "You should NEVER exit during USB activity,\nexiting now can corrupt the device,\n"
                          "do you want to exit anyway?");
        std::vector<int> buttons = box.buttons;
        std::sort(buttons.begin(), buttons.end());
        CHECK(buttons == std::vector<int>{IDYES, IDNO});
        CHECK(box.icon == LoadIcon(nullptr, IDI_WARNING));
        CHECK(box.owner == dialog.Dialog());
        PressBoxButton(box, IDNO);
        CHECK_FALSE(dialog.Ended(100));
        CHECK(workerHandle == running);
        gate.Release();
        REQUIRE(dialog.WaitIdle());
        dialog.Sync();
    }
    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Reading Device Data..."), {readOk}));
    CHECK(helpPressCount == 2);  // the read reset it before these presses
    const auto traffic = bench.bus.Traffic();
    CHECK(ReadRequestsOnWire(traffic) == 6 + 256);  // one read, nothing else
    CHECK(WriteRequestsOnWire(traffic) == 0);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("Help pressed four times before Read Device offers High to Low; any other count does not")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    dialog.ClickAndWait(IDC_READ_DEVICE);  // a read clears presses earlier tests left
    for (unsigned presses : {0u, 3u, 4u, 5u, 12u, 4u}) {
        CAPTURE(presses);
        dialog.PressF1(static_cast<int>(presses));
        CHECK(helpPressCount == presses);
        dialog.ClickAndWait(IDC_READ_DEVICE);
        CHECK(dialog.Text(IDC_STATUS) == readOk);
        CHECK(helpPressCount == 0);
        const bool unlocked = presses == 4;
        CHECK((highToLowUnlocked != 0) == unlocked);
        CHECK(dialog.Visible(IDC_SENSOR_HIGH_TO_LOW) == unlocked);
        CHECK(dialog.Text(IDC_SENSOR_HIGH_TO_LOW) == (unlocked ? "High to Low" : "NOT USED"));
    }
    // A read that starts resets the count even when it then fails.
    bench.bus.Unplug(bench.converter);
    dialog.PressF1(4);
    dialog.ClickAndWait(IDC_READ_DEVICE);
    CHECK(dialog.Text(IDC_STATUS) == " USB device not found");
    CHECK(helpPressCount == 0);
    CHECK(bench.bus.OpenHandles() == 0);
}

TEST_CASE("Yes ends the dialog; the worker stops at the next register boundary and is waited for")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    dialog.ClickAndWait(IDC_READ_DEVICE);
    dialog.SetText(IDC_SPEED_ADJUST, "-7.5");
    bench.bus.ClearTraffic();

    // Pause 1 follows the opening; pause n + 2 follows the write request of
    // register n + 5. Hold the worker inside register 100: written, not yet
    // read back.
    const int held = 100;
    const int readsBefore = bench.converter.ReadsOf(held);  // by the read above
    {
        WorkerGate gate(5, held - 5 + 2);
        dialog.Click(IDC_WRITE_DEVICE);
        REQUIRE(gate.WaitHeld());
        CHECK(bench.converter.WritesTo(held) == 1);
        CHECK(bench.converter.ReadsOf(held) == readsBefore);
        ExitDuringOperation(dialog);
    }
    // The register on the wire was completed and verified; nothing after it
    // was touched.
    CHECK(bench.converter.ReadsOf(held) == readsBefore + 1);
    for (int r = 0; r < 256; ++r) {
        CAPTURE(r);
        CHECK(bench.converter.WritesTo(r) == (r >= 5 && r <= held ? 1 : 0));
        if (r >= 5 && r <= held)
            CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
    }
    CHECK(bench.converter.Register(6) == 75);
    CHECK(bench.converter.Register(7) == 0x80);
    CheckNothingLeftBehind(bench.bus);

    EndWorkerBeforeExit();  // nothing left to end: harmless
}

namespace {
// Runs EndWorkerBeforeExit on the dialog thread, as WinMain does on its
// thread, while the dialog still exists and the worker still calls into it.
constexpr UINT WM_END_WORKER = WM_APP + 0x2D0;
WNDPROC dialogProcBefore = nullptr;
DWORD endWorkerMs = 0;

LRESULT CALLBACK EndWorkerOnRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_END_WORKER) {
        const DWORD start = GetTickCount();
        EndWorkerBeforeExit();
        endWorkerMs = GetTickCount() - start;
        return 0;
    }
    return CallWindowProcA(dialogProcBefore, window, message, wParam, lParam);
}
}  // namespace

TEST_CASE("waiting for the worker on the dialog thread still serves its calls to the dialog")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    WorkerGate gate(5, 1);  // held right after opening, before the first word
    dialog.Click(IDC_READ_DEVICE);
    REQUIRE(gate.WaitHeld());
    dialog.ClearStatusHistory();

    dialogProcBefore = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog.Dialog(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EndWorkerOnRequest)));
    SendMessageA(dialog.Dialog(), WM_END_WORKER, 0, 0);
    SetWindowLongPtrA(dialog.Dialog(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dialogProcBefore));

    CHECK(endWorkerMs < 1000);  // no wait-for-each-other until the bound
    // Cut off before the version word: its location is the last text, and
    // it reached the dialog while the dialog thread was waiting.
    CHECK(dialog.StatusHistory() == Texts{" READ ERROR L497"});
    CHECK(dialog.Enabled(IDC_READ_DEVICE));  // the failure refresh got through too
    CHECK(bench.converter.ReadsOf(1) == 0);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("a worker that is cut off inside its retries makes no further attempt")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    bench.converter.AddFault(Fault(sim::FaultRule::NoReply, 2, 50));
    {
        // The first 100 ms pause follows the first failed attempt at
        // register 50, once the port is closed.
        WorkerGate gate(100, 1);
        dialog.Click(IDC_READ_DEVICE);
        REQUIRE(gate.WaitHeld());
        ExitDuringOperation(dialog);
    }
    CHECK(bench.converter.ReadsOf(50) == 1);
    CHECK(bench.converter.ReadsOf(51) == 0);
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("each worker's thread handle is closed once: by the next start, or at exit")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    // Starts a read, notes its thread handle and id while it is held, and
    // lets it finish.
    auto runHeld = [&](HANDLE &thread, DWORD &id) {
        WorkerGate gate(5, 1);
        dialog.Click(IDC_READ_DEVICE);
        REQUIRE(gate.WaitHeld());
        thread = workerHandle;
        id = GetThreadId(thread);
        CHECK(id != 0);
        gate.Release();
        REQUIRE(dialog.WaitIdle());
        dialog.Sync();
    };
    HANDLE first = nullptr, second = nullptr;
    DWORD firstId = 0, secondId = 0;
    runHeld(first, firstId);
    CHECK(GetThreadId(first) == firstId);  // finished, still open: nothing waits on it
    runHeld(second, secondId);
    // Closed by the second start: the value is either invalid now, or was
    // handed out again (which only a closed handle can be).
    CHECK((second == first || GetThreadId(first) != firstId));
    CHECK(GetThreadId(second) == secondId);
    EndWorkerBeforeExit();
    CHECK(GetThreadId(second) != secondId);
    EndWorkerBeforeExit();  // nothing left: no second close
    CHECK(bench.bus.OpenHandles() == 0);
}

TEST_CASE("the factory format sequence starts the format on the worker")
{
    ConverterOnBus bench(10005, 3);
    DialogDriver dialog;
    AnswerFormatQuestions(dialog, 4);  // format, understood, ECT, black connector
    dialog.Sync();  // the sequence has returned, the worker is started
    REQUIRE(dialog.WaitIdle());
    dialog.Sync();
    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Formatting Device..."), {" Device Format Complete"}));
    CHECK(ConfigImage.FirmwareVersion() == 12300);
    CHECK(ConfigImage.FirmwareType() == 2);
    for (int r = 0; r < 256; ++r)
        CHECK(bench.converter.Register(r) == ConfigImage.Byte(static_cast<uint8_t>(r)));
    CHECK(dialog.Enabled(IDC_WRITE_DEVICE));
    CheckNothingLeftBehind(bench.bus);
}

TEST_CASE("a read that started while the format questions were open: the last answer loads and starts nothing")
{
    ConverterOnBus bench;
    DialogDriver dialog;
    AnswerFormatQuestions(dialog, 3);  // format, understood, ECT
    BoxView connector = WaitForBox("DEVICE FORMAT", 5000);
    REQUIRE(connector.window != nullptr);
    {
        // A Read Device press queued behind the questions reaches the dialog
        // while the last one is open, and its read is held at work.
        WorkerGate gate(5, 1);
        dialog.Command(IDC_READ_DEVICE);
        REQUIRE(gate.WaitHeld());
        HANDLE running = workerHandle;
        REQUIRE(running != nullptr);
        PressBoxButton(connector, IDYES);
        dialog.Sync();
        // No second worker, no message; the image the read is filling is
        // not replaced under it.
        CHECK(workerHandle == running);
        CHECK(NoBox("DEVICE FORMAT"));
        CHECK(NoBox("Error"));
        CheckImage(bench.converter.Registers(), 0);
        gate.Release();
        REQUIRE(dialog.WaitIdle());
        dialog.Sync();
    }
    CHECK(dialog.StatusHistory() == Then(ProgressTexts("Reading Device Data..."), {readOk}));
    CheckImage(bench.converter.Registers());
    CHECK(WriteRequestsOnWire(bench.bus.Traffic()) == 0);  // nothing formatted
    CheckNothingLeftBehind(bench.bus);
}
