// Checks the portable tests of the core folders share: a text that must
// hold several passages, a refusal and its words, and a walk over the four
// factory default images.
#pragma once

#include "base/result.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// One check for each passage `text` must hold, naming the one it lacks.
inline void CheckContainsEach(const std::string &text, std::initializer_list<std::string> passages)
{
    for (const std::string &passage : passages)
        CHECK_MESSAGE(Contains(text, passage), "missing: \"", passage, "\"");
}

// A refusal whose message holds `words`.
inline void CheckRefused(const Result &result, const std::string &words)
{
    CHECK_FALSE(result.Ok());
    CHECK_MESSAGE(Contains(result.Message(), words), result.Message());
}

// A text a reader must refuse, and words its refusal must hold.
struct RefusedText {
    std::string text;
    const char *words;
};

// read(text, registers) refuses each text with its words and leaves the
// 256 registers it was handed as they were.
template <class Read> void CheckRegistersRefused(Read read, const std::vector<RefusedText> &refused)
{
    for (const RefusedText &row : refused) {
        uint8_t kept[256] = {7};
        CheckRefused(read(row.text, kept), row.words);
        CHECK(kept[0] == 7);
    }
}

// Calls check(version, type) for each firmware version and unit type that
// has a factory default image, both captured for a failure's report.
template <class Check> void ForEachFactoryDefault(Check check)
{
    for (uint16_t version : {uint16_t{10005}, uint16_t{12300}}) {
        for (uint16_t type : {uint16_t{2}, uint16_t{3}}) {
            CAPTURE(version);
            CAPTURE(type);
            check(version, type);
        }
    }
}
