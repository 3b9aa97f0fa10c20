#include "sim/sim_fault_text.h"

#include "config/hex_text.h"
#include "config/register_rows.h"

#include <cstdlib>
#include <sstream>

namespace sim {

namespace {

const char *const kindNames[] = {"send-fails",     "send-zero", "receive-fails", "receive-zero",
                                 "wrong-readback", "no-reply",  "late-reply",    "unplug"};
constexpr int kindCount = sizeof kindNames / sizeof kindNames[0];

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.push_back("");
    return parts;
}

// A whole decimal number from `low` to `high`.
bool Number(const std::string &text, long low, long high, int &value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// Kinds that change or withhold a reply: write requests get none.
bool ActsOnRepliesOnly(DemoFaultKind kind)
{
    return kind != DemoFaultKind::SendFails && kind != DemoFaultKind::SendZero && kind != DemoFaultKind::Unplug;
}

Result ParseRule(const std::string &text, DemoFault &rule)
{
    std::vector<std::string> parts = Split(text, ',');
    const std::string kind = parts.empty() ? "" : TrimBlanks(parts[0]);
    bool known = false;
    for (int i = 0; i < kindCount; ++i)
        if (kind == kindNames[i]) {
            rule.kind = static_cast<DemoFaultKind>(i);
            known = true;
        }
    if (!known)
        return Result::Fail("\"" + kind +
                            "\" is not a fault (send-fails, send-zero, receive-fails, receive-zero, "
                            "wrong-readback, no-reply, late-reply, unplug)");
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string part = TrimBlanks(parts[i]);
        const size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
        if (key == "at" && Number(value, 0, 255, rule.address))
            continue;
        if (key == "after" && Number(value, 0, 100000000, rule.skip))
            continue;
        if (key == "times" && Number(value, 1, 100000000, rule.times))
            continue;
        if (key == "delay" && rule.kind == DemoFaultKind::LateReply && Number(value, 0, 60000, rule.replyAfterMs))
            continue;
        if (key == "on" && value == "write" && ActsOnRepliesOnly(rule.kind))
            return Result::Fail("\"" + part + "\" never fires: " + kind +
                                " acts on the reply, and only read requests "
                                "are answered");
        if (key == "on" && (value == "read" || value == "write")) {
            rule.command = value == "write" ? 1 : 2;
            continue;
        }
        return Result::Fail("\"" + part +
                            "\" is not a setting of a fault (at=0..255, on=read|write, after=N, times=N, "
                            "and for late-reply delay=0..60000)");
    }
    return Result::Success();
}

}  // namespace

Result ParseDemoFaults(const std::string &text, std::vector<DemoFault> &rules)
{
    std::vector<DemoFault> parsed;
    if (!TrimBlanks(text).empty()) {
        for (const std::string &part : Split(text, ';')) {
            DemoFault rule;
            const Result read = ParseRule(part, rule);
            if (!read)
                return Result::Fail("ZYR_SIM_FAULT=\"" + text + "\": " + read.Message());
            parsed.push_back(rule);
        }
    }
    rules.swap(parsed);
    return Result::Success();
}

std::string FormatSimState(const unsigned char (&registers)[256])
{
    return "# the simulated converter's registers (ZYR_SIM_STATE)\n" + FormatRegisterRows(registers);
}

Result ParseSimState(const std::string &text, unsigned char (&registers)[256])
{
    unsigned char parsed[256] = {};
    int row = 0;
    std::istringstream stream(text);
    std::string line;
    for (int number = 1; std::getline(stream, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (TrimBlanks(line).empty() || line[0] == '#')
            continue;
        const std::string expected = HexDigits(static_cast<uint32_t>(row) * 16, 2) + ":";
        unsigned offset = 0;
        uint8_t bytes[registerRowBytes];
        // The row's own problem is worded here as the row this file expects.
        if (row >= 16 || !ParseRegisterRow(TrimBlanks(line), offset, bytes) ||
            offset != static_cast<unsigned>(row * 16))
            return Result::Fail("line " + std::to_string(number) + " is not the row \"" + expected +
                                "\" of 16 hex bytes");
        for (unsigned i = 0; i < registerRowBytes; ++i)
            parsed[static_cast<unsigned>(row) * 16 + i] = bytes[i];
        ++row;
    }
    if (row != 16)
        return Result::Fail("it holds " + std::to_string(row) + " rows of registers, not 16");
    for (int i = 0; i < 256; ++i)
        registers[i] = parsed[i];
    return Result::Success();
}

}  // namespace sim
