// zyrctl's answer to a failed load of "hid.dll": the text on standard error
// instead of the dialog's box. zyrctl runs from scripts, and a modal box
// would leave a script waiting for a click nobody gives. Linked into the
// program itself, so it replaces the box before static initialisation loads
// the library; the device commands then fail with exit code 1.
#include "device/hid_library.h"

#include <cstdio>

namespace {

// Standard C output: the C++ streams may not be constructed yet.
int WINAPI ReportOnStandardError(HWND, LPCSTR text, LPCSTR, UINT)
{
    std::fprintf(stderr, "zyrctl: %s\n", text);
    std::fflush(stderr);
    return IDOK;
}

}  // namespace

int(WINAPI *HidLibrary::showMessageBox)(HWND, LPCSTR, LPCSTR, UINT) = ReportOnStandardError;
