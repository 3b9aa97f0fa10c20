#include "protocol/operation_text.h"
#include "settings/settings_view.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

// The addresses after which a loop from `first` to 255 reports, and what.
std::vector<std::pair<int, int>> Reports(int first)
{
    std::vector<std::pair<int, int>> reports;
    ProgressCounter progress;
    for (int address = first; address < 256; ++address)
        if (int percent = progress.Advance(static_cast<uint8_t>(address)))
            reports.emplace_back(address, percent);
    return reports;
}

}  // namespace

TEST_CASE("progress: ten tenths, at the documented addresses, never 0 %")
{
    const std::vector<std::pair<int, int>> expected = {{25, 10},  {51, 20},  {76, 30},  {102, 40}, {127, 50},
                                                       {153, 60}, {179, 70}, {204, 80}, {230, 90}, {255, 100}};
    CHECK(Reports(0) == expected);
    // A loop from register 5 counts 0 to 4 as done: the same ten reports.
    CHECK(Reports(5) == expected);
    // Starting past a tenth reports that tenth first, at once.
    auto late = Reports(200);
    REQUIRE(late.size() == 4);
    CHECK(late.front() == std::make_pair(200, 70));
    CHECK(late.back() == std::make_pair(255, 100));
}

TEST_CASE("firmware version text: five digits, points after the first and third")
{
    // FirmwareText is the version as the dialog and zyrctl show it.
    const std::pair<uint16_t, const char *> rows[] = {
        {12300, "1.23.00"}, {10005, "1.00.05"}, {0, "0.00.00"}, {65535, "6.55.35"}, {42, "0.00.42"},
    };
    for (const auto &row : rows) {
        CAPTURE(row.first);
        CHECK(FirmwareText(row.first) == row.second);
    }
    char small[4] = {'x', 'x', 'x', 'x'};
    FormatFirmwareVersion(12300, small, sizeof small);
    CHECK(std::string(small) == "1.2");  // cut to fit, never past the end
}

TEST_CASE("accepted converters and their names")
{
    CHECK(AcceptedFirmwareVersion(10005));
    CHECK(AcceptedFirmwareVersion(12300));
    for (uint16_t v : std::initializer_list<uint16_t>{0, 10004, 10006, 12299, 12301, 0xFFFF})
        CHECK_FALSE(AcceptedFirmwareVersion(v));
    CHECK(AcceptedFirmwareType(2));
    CHECK(AcceptedFirmwareType(3));
    for (uint16_t t : std::initializer_list<uint16_t>{0, 1, 4, 0xFFFF})
        CHECK_FALSE(AcceptedFirmwareType(t));
    CHECK(std::string(DeviceKindName(2)) == "VSS+ECT");
    CHECK(std::string(DeviceKindName(3)) == "VSS");
    CHECK(std::string(DeviceKindName(1)) == "");
}
