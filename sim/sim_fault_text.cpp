#include "sim/sim_fault_text.h"

#include <cctype>
#include <cstdio>
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

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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

bool ParseRule(const std::string &text, DemoFault &rule, std::string &problem)
{
    std::vector<std::string> parts = Split(text, ',');
    const std::string kind = parts.empty() ? "" : Trim(parts[0]);
    bool known = false;
    for (int i = 0; i < kindCount; ++i)
        if (kind == kindNames[i]) {
            rule.kind = static_cast<DemoFaultKind>(i);
            known = true;
        }
    if (!known) {
        problem = "\"" + kind + "\" is not a fault (send-fails, send-zero, receive-fails, receive-zero, "
                  "wrong-readback, no-reply, late-reply, unplug)";
        return false;
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string part = Trim(parts[i]);
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
        if (key == "on" && (value == "read" || value == "write")) {
            rule.command = value == "write" ? 1 : 2;
            continue;
        }
        problem = "\"" + part + "\" is not a setting of a fault (at=0..255, on=read|write, after=N, times=N, "
                  "and for late-reply delay=0..60000)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseDemoFaults(const std::string &text, std::vector<DemoFault> &rules, std::string &message)
{
    std::vector<DemoFault> parsed;
    if (!Trim(text).empty()) {
        for (const std::string &part : Split(text, ';')) {
            DemoFault rule;
            std::string problem;
            if (!ParseRule(part, rule, problem)) {
                message = "ZYR_SIM_FAULT=\"" + text + "\": " + problem;
                return false;
            }
            parsed.push_back(rule);
        }
    }
    rules.swap(parsed);
    return true;
}

std::string FormatSimState(const unsigned char (&registers)[256])
{
    std::string text = "# the simulated converter's registers (ZYR_SIM_STATE)\n";
    char cell[8];
    for (int row = 0; row < 16; ++row) {
        std::snprintf(cell, sizeof cell, "%02X:", row * 16);
        text += cell;
        for (int column = 0; column < 16; ++column) {
            std::snprintf(cell, sizeof cell, " %02X", registers[row * 16 + column]);
            text += cell;
        }
        text += "\n";
    }
    return text;
}

bool ParseSimState(const std::string &text, unsigned char (&registers)[256], std::string &message)
{
    unsigned char parsed[256] = {};
    int row = 0;
    std::istringstream stream(text);
    std::string line;
    for (int number = 1; std::getline(stream, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (Trim(line).empty() || line[0] == '#')
            continue;
        char expected[8];
        std::snprintf(expected, sizeof expected, "%02X:", row * 16);
        std::istringstream cells(line);
        std::string offset;
        cells >> offset;
        int count = 0;
        std::string cell;
        bool good = row < 16 && offset == expected;
        while (good && cells >> cell) {
            // Two hex digits exactly: strtoul alone would also take "+1" and "-1".
            good = cell.size() == 2 && std::isxdigit(static_cast<unsigned char>(cell[0])) &&
                   std::isxdigit(static_cast<unsigned char>(cell[1])) && count < 16;
            if (good)
                parsed[row * 16 + count++] = static_cast<unsigned char>(std::strtoul(cell.c_str(), nullptr, 16));
        }
        if (!good || count != 16) {
            message = "line " + std::to_string(number) + " is not the row \"" + expected + "\" of 16 hex bytes";
            return false;
        }
        ++row;
    }
    if (row != 16) {
        message = "it holds " + std::to_string(row) + " rows of registers, not 16";
        return false;
    }
    for (int i = 0; i < 256; ++i)
        registers[i] = parsed[i];
    return true;
}

}  // namespace sim
