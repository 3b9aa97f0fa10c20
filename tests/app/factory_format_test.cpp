// The hidden factory format: F1 eleven times, then Read Device, four
// questions, and the chosen default image written to every register.
#include "tests/app/config_fixture.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "protocol/device_operations.h"
#include "tests/support/format_questions.h"

#include <doctest.h>

namespace {

// Checks question n (0 to 3) as the user sees it and answers it.
void Answer(DialogDriver &driver, int n, int button)
{
    CAPTURE(n);
    BoxView box = WaitForBox("DEVICE FORMAT");
    CheckBox(box, "DEVICE FORMAT", formatQuestions[n], FormatQuestionButtons(n), IDI_WARNING, false, driver.Dialog());
    PressBoxButton(box, button);
}

void OpenFormat(DialogDriver &driver)
{
    driver.PressF1(11);
    driver.Click(IDC_READ_DEVICE);
}

// Answers Yes, Yes, then `ect` and `connector`, and waits until the format
// has ended.
void FormatWith(DialogDriver &driver, int ect, int connector)
{
    OpenFormat(driver);
    const int answers[4] = {IDYES, IDYES, ect, connector};
    for (int n = 0; n < 4; ++n)
        Answer(driver, n, answers[n]);
    driver.Sync();  // the last answer starts the worker
    REQUIRE(driver.WaitIdle());
    driver.Sync();
}

// Whatever a converter that needs formatting may hold.
Registers Scrambled()
{
    Registers registers;
    for (size_t i = 0; i < registers.size(); ++i)
        registers[i] = static_cast<uint8_t>(0xA5 ^ (i * 13));
    return registers;
}

}  // namespace

TEST_CASE("eleven F1 presses and Read Device ask instead of reading; No or Cancel at any question changes nothing")
{
    ReadDialog read(DefaultRegisters(12300, 2));
    auto &[converter, driver] = read;
    const Registers image = ImageBytes();
    driver.ClearStatusHistory();
    sim::SimBus::Instance().ClearTraffic();

    int stopAt = 0;
    int stopButton = IDNO;
    SUBCASE("No at the first question") {}
    SUBCASE("No at the warning") { stopAt = 1; }
    SUBCASE("Cancel at the ECT question")
    {
        stopAt = 2;
        stopButton = IDCANCEL;
    }
    SUBCASE("Cancel at the connector question")
    {
        stopAt = 3;
        stopButton = IDCANCEL;
    }

    OpenFormat(driver);
    for (int n = 0; n < stopAt; ++n)
        Answer(driver, n, IDYES);
    Answer(driver, stopAt, stopButton);

    CHECK(NoBox("DEVICE FORMAT"));
    driver.Sync();
    CHECK(workerHandle == nullptr);
    CHECK(ImageBytes() == image);
    CHECK(sim::SimBus::Instance().Traffic().empty());  // not read, not written
    CHECK(driver.StatusHistory().empty());
    CHECK(helpPressCount == 0);

    // The next press of Read Device reads again.
    const int readsBefore = converter.ReadsOf(100);
    ReadConverter(driver);
    CHECK(converter.ReadsOf(100) == readsBefore + 1);
}

TEST_CASE("each pair of answers formats all 256 registers with its default image")
{
    const struct {
        int ect, connector;
        uint16_t version, type;
    } choices[] = {
        {IDYES, IDYES, 12300, 2},
        {IDNO, IDYES, 12300, 3},
        {IDYES, IDNO, 10005, 2},
        {IDNO, IDNO, 10005, 3},
    };
    for (const auto &choice : choices) {
        CAPTURE(choice.version);
        CAPTURE(choice.type);
        sim::SimDevice &converter = PlugConverter(Scrambled());
        DialogDriver driver;  // a converter that cannot be read: the format is reached at once

        FormatWith(driver, choice.ect, choice.connector);

        const Registers expected = DefaultRegisters(choice.version, choice.type);
        CHECK(driver.Text(IDC_STATUS) == " Device Format Complete");
        CHECK(converter.Registers() == expected);
        for (int address = 0; address < 256; ++address) {
            CAPTURE(address);
            CHECK(converter.WritesTo(address) >= 1);
        }
        CHECK(converter.ReadsOf(1) == converter.WritesTo(1));  // no version read first, only read-backs
        CHECK(ImageBytes() == expected);
        // The chosen defaults are shown, ready for use.
        CHECK(driver.Text(IDC_SPEED_ADJUST) == "0.0");
        CHECK(driver.Enabled(IDC_WRITE_DEVICE));
        CHECK(driver.Checked(choice.type == 3 ? IDC_SENSOR_HIGH_TO_LOW : IDC_SENSOR_LOW_FREQ));
        CHECK(driver.Visible(IDC_TWO_WIRE_GROUP) == (choice.type == 2 && choice.version == 12300));
    }
}

TEST_CASE("a format that fails says so, and the image keeps the defaults")
{
    sim::SimDevice &converter = PlugConverter(Scrambled());
    sim::FaultRule fault;
    fault.kind = sim::FaultRule::SendFails;
    fault.command = 1;
    fault.address = 100;
    converter.AddFault(fault);
    DialogDriver driver;

    FormatWith(driver, IDYES, IDYES);
    CHECK(driver.Text(IDC_STATUS) == " WRITE ERROR L461");
    CHECK(ImageBytes() == DefaultRegisters(12300, 2));
    CHECK(converter.WritesTo(101) == 0);
}
