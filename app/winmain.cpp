// Program entry: the main dialog, modal, without an owner, on this thread.
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "protocol/device_operations.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    InitCommonControls();
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    // A worker the user chose to cut off is stopped at its next register and
    // waited for, so the exit handlers never destroy the device object under it.
    EndWorkerBeforeExit();
    return static_cast<int>(result);
}
