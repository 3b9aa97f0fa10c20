// Presses a button of a running program's window, as a user would, and
// waits until its status line starts with the given text and, when given,
// a control that the end of the operation enables is enabled again. Used by
// the run command on a virtual display, where nobody can click.
//
//   press_button.exe "<window title>" <control id> <status control id> "<status prefix>"
//                    [timeout ms] [ready control id]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: press_button TITLE CONTROL STATUS PREFIX [TIMEOUT_MS]\n");
        return 2;
    }
    const char *title = argv[1];
    int control = std::atoi(argv[2]);
    int status = std::atoi(argv[3]);
    const char *prefix = argv[4];
    DWORD timeout = argc > 5 ? static_cast<DWORD>(std::atol(argv[5])) : 30000;
    int ready = argc > 6 ? std::atoi(argv[6]) : 0;

    DWORD start = GetTickCount();
    HWND window = nullptr;
    while (!(window = FindWindowA(nullptr, title))) {
        if (GetTickCount() - start > timeout) {
            std::fprintf(stderr, "no window \"%s\"\n", title);
            return 1;
        }
        Sleep(50);
    }
    HWND button = GetDlgItem(window, control);
    if (!button || !IsWindowEnabled(button)) {
        std::fprintf(stderr, "control %d is missing or disabled\n", control);
        return 1;
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    char text[300] = {};
    while (GetTickCount() - start < timeout) {
        GetDlgItemTextA(window, status, text, sizeof text);
        if (std::strncmp(text, prefix, std::strlen(prefix)) == 0 &&
            (!ready || IsWindowEnabled(GetDlgItem(window, ready)))) {
            // Let the window paint what the operation's end has shown.
            DWORD_PTR ignored;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Sleep(300);
            std::printf("%s\n", text);
            return 0;
        }
        Sleep(50);
    }
    std::fprintf(stderr, "status line still reads \"%s\"\n", text);
    return 1;
}
