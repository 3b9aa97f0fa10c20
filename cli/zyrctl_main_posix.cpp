// zyrctl's process entry on Linux: the terminal it is given, and Ctrl+C
// (SIGINT, or SIGTERM) stops a device operation at its next register
// instead of killing it mid-exchange. Text is UTF-8 throughout.
#include "cli/zyrctl.h"

#include "protocol/operation_cut_off.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

namespace {

void OnBreak(int) { RequestOperationCutOff(); }

}  // namespace

int main(int argc, char **argv)
{
    struct sigaction action {};
    action.sa_handler = OnBreak;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe is a write error on the stream, not the end of the process.
    signal(SIGPIPE, SIG_IGN);
    std::cerr.setf(std::ios::unitbuf);
    const ZyrctlConsole console{std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0};
    const int code = ZyrctlMain(argc, argv, console);
    std::cout.flush();
    return code;
}
