// F1 on the main dialog, as the system delivers it: WM_HELP with a HELPINFO
// naming the focused control (Read Device), sent `times` times. The system
// carries the HELPINFO across processes too, so this serves a dialog in
// another program as well.
#pragma once

#include "app/resource_ids.h"

#include <windows.h>

inline void PressF1(HWND dialog, int times)
{
    for (int i = 0; i < times; ++i) {
        HELPINFO info = {};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = IDC_READ_DEVICE;
        info.hItemHandle = GetDlgItem(dialog, IDC_READ_DEVICE);
        SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    }
}
