// Fuzz target: the demos' two environment texts, ZYR_SIM_FAULT and the
// ZYR_SIM_STATE file. Every input goes to both parsers. A refusal must come
// with a message and leave the result untouched; an accepted fault text gives
// one rule per part, each within the ranges of sim_fault_text.h; an accepted
// state holds only hex bytes, offsets and comments, and formats again to a
// text that reads back to the same registers.
#include "fuzz/fuzz_require.h"
#include "sim/sim_fault_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A rule no parse can give: a refusal must leave it in place.
sim::DemoFault Sentinel()
{
    sim::DemoFault rule;
    rule.kind = sim::DemoFaultKind::Unplug;
    rule.command = 7;
    rule.address = 999;
    rule.skip = -5;
    rule.times = -9;
    rule.replyAfterMs = -3;
    return rule;
}

bool Same(const sim::DemoFault &a, const sim::DemoFault &b)
{
    return a.kind == b.kind && a.command == b.command && a.address == b.address && a.skip == b.skip &&
           a.times == b.times && a.replyAfterMs == b.replyAfterMs;
}

void CheckFaultText(const std::string &text)
{
    std::vector<sim::DemoFault> rules = {Sentinel()};
    const Result parsed = sim::ParseDemoFaults(text, rules);
    if (!parsed) {
        Require(!parsed.Message().empty());
        Require(rules.size() == 1 && Same(rules[0], Sentinel()));
        return;
    }
    Require(parsed.Message().empty());
    const bool blank = text.find_first_not_of(" \t") == std::string::npos;
    const size_t parts = blank ? 0 : static_cast<size_t>(std::count(text.begin(), text.end(), ';')) + 1;
    Require(rules.size() == parts);
    for (const sim::DemoFault &rule : rules) {
        const int kind = static_cast<int>(rule.kind);
        Require(kind >= 0 && kind <= static_cast<int>(sim::DemoFaultKind::Unplug));
        Require(rule.command >= 0 && rule.command <= 2);
        Require(rule.address >= -1 && rule.address <= 255);
        Require(rule.skip >= 0);
        Require(rule.times == -1 || rule.times >= 1);
        Require(rule.replyAfterMs >= 0 && rule.replyAfterMs <= 60000);
        if (rule.kind != sim::DemoFaultKind::LateReply)
            Require(rule.replyAfterMs == 1000);
    }
}

// Outside comment lines an accepted state has nothing but offsets, hex
// digits and blanks: a sign or a radix prefix is not a hex byte.
bool OnlyHexRows(const std::string &text)
{
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        if (!line.empty() && line[0] != '#' &&
            line.find_first_not_of("0123456789ABCDEFabcdef: \t\r\v\f") != std::string::npos)
            return false;
    return true;
}

void CheckSimState(const std::string &text)
{
    unsigned char registers[256];
    for (int i = 0; i < 256; ++i)
        registers[i] = static_cast<unsigned char>(i * 7 + 3);
    unsigned char before[256];
    std::memcpy(before, registers, sizeof before);
    const Result parsed = sim::ParseSimState(text, registers);
    if (!parsed) {
        Require(!parsed.Message().empty());
        Require(std::memcmp(registers, before, sizeof before) == 0);
        return;
    }
    Require(parsed.Message().empty());
    Require(OnlyHexRows(text));

    const std::string again = sim::FormatSimState(registers);
    unsigned char reread[256] = {};
    Require(sim::ParseSimState(again, reread).Ok());
    Require(std::memcmp(reread, registers, sizeof reread) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    CheckFaultText(text);
    CheckSimState(text);
    return 0;
}
