#include "settings/speed_text.h"

#include <doctest.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string Shown(uint16_t word)
{
    char text[16];
    FormatSpeedAdjust(word, text, sizeof text);
    return text;
}

// The tenths of an accepted text, none for a refused one, which must leave
// the result as it was.
std::optional<int> Parsed(const char *text)
{
    int tenths = 12345;
    if (ParseSpeedAdjust(text, tenths))
        return tenths;
    CHECK_MESSAGE(tenths == 12345, "a refused text changed the result: \"", text, "\"");
    return std::nullopt;
}

}  // namespace

TEST_CASE("speed text: the image word as the edit shows it")
{
    for (auto row : std::initializer_list<std::pair<uint16_t, const char *>>{
             {0x0000, "0.0"},
             {0x0019, "2.5"},
             {0x8019, "-2.5"},
             {0x8000, "0.0"},  // a zero magnitude has no sign
             {0x00FA, "25.0"},
             {0x80FA, "-25.0"},
             {0x0001, "0.1"},
             {0x8001, "-0.1"},
             {0x7FFF, "3276.7"},  // out of range from a device: shown unchanged
             {0xFFFF, "-3276.7"},
         }) {
        CAPTURE(row.first);
        CHECK(Shown(row.first) == row.second);
    }

    // The same as "%.1f" of magnitude / 10 for every word.
    for (unsigned word = 0; word <= 0xFFFF; ++word) {
        unsigned magnitude = word & 0x7FFF;
        double value = magnitude / 10.0;
        if ((word & 0x8000) && magnitude)
            value = -value;
        char expected[16];
        std::snprintf(expected, sizeof expected, "%.1f", value);
        REQUIRE(Shown(static_cast<uint16_t>(word)) == expected);
    }
}

TEST_CASE("speed text: a small buffer is cut, never overrun")
{
    char text[8];
    std::memset(text, 'x', sizeof text);
    FormatSpeedAdjust(0xFFFF, text, 4);
    CHECK(std::string(text) == "-32");
    CHECK(text[4] == 'x');
    FormatSpeedAdjust(0x0019, text, 1);
    CHECK(text[0] == '\0');
    FormatSpeedAdjust(0x0019, nullptr, 0);  // nothing to write to
}

TEST_CASE("speed text: the documented conversions")
{
    // Every text is accepted: what is not a number reads as 0.
    for (auto row : std::initializer_list<std::pair<const char *, int>>{
             {"25.0", 250}, {"25.09", 250}, {"-25", -250}, {"12.7", 127}, {"-24.9", -249}, {"1.25", 12}, {"-1.25", -12},
             {"0.05", 0},   {"-0.05", 0},   {"5%", 50},    {"1e1", 100},  {"", 0},         {"abc", 0},   {"  7.5", 75},
             {"\t-3", -30}, {"+2.5", 25},   {".5", 5},     {"5.", 50},    {"1e", 10},  // an exponent needs digits
             {"1e+", 10},   {"2.5e-1", 2},  {"1e-999", 0}, {"0x10", 0},  // decimal only, with every runtime
             {"-", 0},      {".", 0},       {nullptr, 0},
         }) {
        const std::string textShown = row.first ? row.first : "(null)";
        CAPTURE(textShown);
        const std::optional<int> tenths = Parsed(row.first);
        REQUIRE_MESSAGE(tenths.has_value(), "refused: \"", row.first, "\"");
        CHECK(*tenths == row.second);
    }
}

TEST_CASE("speed text: out of range, not a number and infinite are refused")
{
    for (const char *text : {"25.1", "-25.1", "250", "9e9", "1e999", "-1e999", "nan", "NaN", "-nan", "inf", "-INF",
                             "infinity", "  +Inf", "99999999", "3276.7"}) {
        const std::string textShown = text;
        CAPTURE(textShown);
        CHECK_FALSE(Parsed(text));
    }
}

namespace {

// The texts of the one-decimal round trip from -25.0 to 25.0 that did not
// come back as their tenths, and how; collected rather than checked so it
// can run on any thread.
std::vector<std::string> RoundTripFailures()
{
    std::vector<std::string> failures;
    for (int tenths = -250; tenths <= 250; ++tenths) {
        const int magnitude = tenths < 0 ? -tenths : tenths;
        char text[16];
        std::snprintf(text, sizeof text, "%s%d.%d", tenths < 0 ? "-" : "", magnitude / 10, magnitude % 10);
        int parsed = 12345;
        if (!ParseSpeedAdjust(text, parsed) || parsed != tenths)
            failures.push_back(std::string(text) + " read as " + std::to_string(parsed));
        const std::string shown = Shown(EncodeSpeedAdjust(tenths));
        if (shown != (tenths == 0 ? std::string("0.0") : std::string(text)))
            failures.push_back(std::string(text) + " shown as " + shown);
        int back = 12345;
        if (!ParseSpeedAdjust(shown.c_str(), back) || back != tenths)
            failures.push_back(std::string(text) + " shown and read back as " + std::to_string(back));
    }
    return failures;
}

// The x87 precision control of the calling thread. Only the 32-bit x86 unit
// has one; elsewhere doubles are computed in SSE registers and there is
// nothing to set.
#if defined(_WIN32) && defined(__i386__)
constexpr bool hasPrecisionControl = true;
constexpr unsigned precision53 = _PC_53, precision64 = _PC_64;
unsigned PrecisionControl() { return _controlfp(0, 0) & _MCW_PC; }
void SetPrecisionControl(unsigned precision) { _controlfp(precision, _MCW_PC); }
#else
constexpr bool hasPrecisionControl = false;
constexpr unsigned precision53 = 0, precision64 = 0;
unsigned PrecisionControl() { return 0; }
void SetPrecisionControl(unsigned) {}
#endif

}  // namespace

TEST_CASE("speed text: every one-decimal value round-trips exactly")
{
    // The main thread of a 32-bit program starts at 64-bit precision,
    // threads the system starts at 53-bit: the dialog reads the edit on the
    // worker, other callers on the main thread.
    struct Run {
        const char *where;
        bool onNewThread;
        unsigned precision;
    };
    const Run runs[] = {
        {"the calling thread as it is", false, PrecisionControl()},
        {"a new thread at 53-bit precision", true, precision53},
        {"the calling thread at 64-bit precision", false, precision64},
    };
    INFO("precision control on this build: ", hasPrecisionControl);
    const unsigned callerPrecision = PrecisionControl();
    for (const Run &run : runs) {
        INFO("run on ", run.where);
        std::vector<std::string> failures;
        unsigned precisionInForce = 0;
        const auto roundTrips = [&] {
            SetPrecisionControl(run.precision);
            precisionInForce = PrecisionControl();
            failures = RoundTripFailures();
        };
        if (run.onNewThread) {
            std::thread(roundTrips).join();
        } else {
            roundTrips();
            SetPrecisionControl(callerPrecision);
        }
        CHECK(precisionInForce == run.precision);
        CHECK_MESSAGE(failures.empty(), failures.size(),
                      " of 501 texts, first: ", failures.empty() ? std::string() : failures.front());
    }
}

TEST_CASE("speed text: the image word's sign and magnitude")
{
    for (auto row : std::initializer_list<std::pair<int, uint16_t>>{
             {0, 0x0000}, {250, 0x00FA}, {-250, 0x80FA}, {-1, 0x8001}, {25, 0x0019}}) {
        CAPTURE(row.first);
        CHECK(EncodeSpeedAdjust(row.first) == row.second);
    }
    // Decoding takes every word, beyond the dialog's range too.
    for (auto row : std::initializer_list<std::pair<uint16_t, int>>{{0x0000, 0},
                                                                    {0x8000, 0},
                                                                    {0x00FA, 250},
                                                                    {0x80FA, -250},
                                                                    {0x8001, -1},
                                                                    {0x7FFF, 32767},
                                                                    {0xFFFF, -32767}}) {
        CAPTURE(row.first);
        CHECK(DecodeSpeedAdjust(row.first) == row.second);
    }
    for (int tenths = -speedAdjustLimit; tenths <= speedAdjustLimit; ++tenths)
        CHECK(DecodeSpeedAdjust(EncodeSpeedAdjust(tenths)) == tenths);
}
