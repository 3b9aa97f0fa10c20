// zyrctl's process entry: the real console, and Ctrl+C stops a device
// operation at its next register instead of killing it mid-exchange.
#include "cli/zyrctl.h"

#include "protocol/operation_cut_off.h"

#include <windows.h>

#include <iostream>

namespace {

bool IsConsole(DWORD which)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

BOOL WINAPI OnBreak(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    RequestOperationCutOff();
    return TRUE;
}

}  // namespace

int main(int argc, char **argv)
{
    SetConsoleCtrlHandler(OnBreak, TRUE);
    const ZyrctlConsole console{std::cin, std::cout, std::cerr, IsConsole(STD_INPUT_HANDLE),
                                IsConsole(STD_ERROR_HANDLE)};
    return ZyrctlMain(argc, argv, console);
}
