#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include "tests/support/skip.h"

#include <cstdio>

namespace {
const char *skipReason = nullptr;
}  // namespace

void SkipCase(const char *reason)
{
    skipReason = reason;
    MESSAGE("skipped: " << reason);
}

int main(int argc, char **argv)
{
    doctest::Context context(argc, argv);
    const int failed = context.run();
    if (context.shouldExit() || failed != 0 || !skipReason)
        return failed;
    std::printf("skipped: %s\n", skipReason);
    return skipReturnCode;
}
