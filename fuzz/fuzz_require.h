// The fuzz targets' check of an invariant: a broken one aborts, which
// libFuzzer reports as a crash and keeps the input that caused it.
#pragma once

#include <cstdlib>

inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}
