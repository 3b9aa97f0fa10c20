// How a failed load of "hid.dll" is told by default: a box. Alone in its
// file, so that a program defining HidLibrary::showMessageBox itself (the
// console program) never links this one.
#include "device/hid_library.h"

int(WINAPI *HidLibrary::showMessageBox)(HWND, LPCSTR, LPCSTR, UINT) = MessageBoxA;
