#include "sim/sim_fault_text.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

using sim::DemoFaultKind;

TEST_CASE("ZYR_SIM_FAULT: good texts give their rules, bad ones say which part is wrong")
{
    struct Good {
        const char *text;
        DemoFaultKind kind;
        int command, address, skip, times, delay;
    };
    for (const Good &row :
         std::vector<Good>{{"unplug,on=write,after=40", DemoFaultKind::Unplug, 1, -1, 40, -1, 1000},
                           {"wrong-readback,at=200", DemoFaultKind::WrongReadBack, 0, 200, 0, -1, 1000},
                           {" late-reply , delay=0 , on=read ,times=2", DemoFaultKind::LateReply, 2, -1, 0, 2, 0},
                           {"send-zero,at=0,at=255", DemoFaultKind::SendZero, 0, 255, 0, -1, 1000}}) {
        std::vector<sim::DemoFault> rules;
        const Result parsed = sim::ParseDemoFaults(row.text, rules);
        REQUIRE_MESSAGE(parsed.Ok(), row.text, ": ", parsed.Message());
        REQUIRE(rules.size() == 1);
        CHECK(rules[0].kind == row.kind);
        CHECK(rules[0].command == row.command);
        CHECK(rules[0].address == row.address);
        CHECK(rules[0].skip == row.skip);
        CHECK(rules[0].times == row.times);
        CHECK(rules[0].replyAfterMs == row.delay);
    }
    for (const RefusedText &row : std::vector<RefusedText>{{"unplug,after=x", "\"after=x\" is not a setting"},
                                                           {"no-reply;", "\"\" is not a fault"},
                                                           {"unplugged", "\"unplugged\" is not a fault"},
                                                           {"unplug,at=256", "\"at=256\""},
                                                           {"unplug,times=0", "\"times=0\""},
                                                           {"no-reply,delay=5", "\"delay=5\""},
                                                           {"late-reply,delay=60001", "\"delay=60001\""},
                                                           {"unplug,on=both", "\"on=both\""},
                                                           {"receive-zero,on=write", "\"on=write\" never fires"}}) {
        const std::string textShown = row.text;
        CAPTURE(textShown);
        std::vector<sim::DemoFault> rules(2);
        CheckRefused(sim::ParseDemoFaults(row.text, rules), row.words);
        CHECK(rules.size() == 2);
    }
}

TEST_CASE("ZYR_SIM_STATE: the formatted registers read back; a damaged file is refused untouched")
{
    unsigned char registers[256];
    for (int i = 0; i < 256; ++i)
        registers[i] = static_cast<unsigned char>(255 - i);
    const std::string text = sim::FormatSimState(registers);
    unsigned char read[256] = {};
    REQUIRE(sim::ParseSimState(text, read).Ok());
    CHECK(std::equal(read, read + 256, registers));

    CheckRegistersRefused(
        sim::ParseSimState,
        {{text.substr(0, text.rfind("F0:")), "holds 15 rows of registers, not 16"},
         {text + "00: 00\n", "line 18 is not the row \"100:\""},
         {std::string(text).replace(text.find(" 00\n"), 3, " 0"), "line 17 is not the row \"F0:\""},
         {std::string(text).replace(text.find("10: EF"), 6, "10: -1"), "line 3 is not the row \"10:\""},
         {std::string(text).replace(text.find("20: DF"), 6, "20: +F"), "line 4 is not the row \"20:\""}});
}
