// Checks the portable tests of the core folders share: a text that must
// hold several passages, and a walk over the four factory default images.
#pragma once

#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

// One check for each passage `text` must hold, naming the one it lacks.
inline void CheckContainsEach(const std::string &text, std::initializer_list<std::string> passages)
{
    for (const std::string &passage : passages)
        CHECK_MESSAGE(Contains(text, passage), "missing: \"", passage, "\"");
}

// Calls check(version, type) for each firmware version and unit type that
// has a factory default image, both captured for a failure's report.
template <class Check>
void ForEachFactoryDefault(Check check)
{
    for (uint16_t version : {uint16_t{10005}, uint16_t{12300}}) {
        for (uint16_t type : {uint16_t{2}, uint16_t{3}}) {
            CAPTURE(version);
            CAPTURE(type);
            check(version, type);
        }
    }
}
