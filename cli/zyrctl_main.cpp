// zyrctl's process entry: the real console, and Ctrl+C stops a device
// operation at its next register instead of killing it mid-exchange. The
// command line comes in as UTF-16 (wmain) and goes on as UTF-8, and the
// output streams write UTF-8 text the way the handle behind them needs.
#include "cli/console_stream.h"
#include "cli/wide_names.h"
#include "cli/zyrctl.h"

#include "protocol/operation_cut_off.h"

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

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

int wmain(int argc, wchar_t **argv)
{
    SetConsoleCtrlHandler(OnBreak, TRUE);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(Utf8FromUtf16(argv[i], wcslen(argv[i])));
    std::vector<const char *> utf8Argv;
    for (const std::string &argument : arguments)
        utf8Argv.push_back(argument.c_str());
    utf8Argv.push_back(nullptr);

    ConsoleStreamBuffer outBuffer(GetStdHandle(STD_OUTPUT_HANDLE));
    ConsoleStreamBuffer errBuffer(GetStdHandle(STD_ERROR_HANDLE));
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    err.setf(std::ios::unitbuf);  // each message as it is made, like std::cerr
    const ZyrctlConsole console{std::cin, out, err, IsConsole(STD_INPUT_HANDLE), errBuffer.IsConsole()};
    const int code = ZyrctlMain(argc, utf8Argv.data(), console);
    out.flush();
    err.flush();
    return code;
}
