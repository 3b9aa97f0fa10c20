#include "app/main_window.h"
#include "app/controls.h"
#include "app/speed_text.h"
// TODO(app): not built yet.
HWND mainDialogHandle = nullptr;
volatile unsigned helpPressCount = 0;
volatile int highToLowUnlocked = 0;
void StatusLine(const char *, ...) {}
void ErrorBox(HWND, const char *, ...) {}
void SetDialogIcon(HWND) {}
INT_PTR CALLBACK MainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
void RefreshControls(int) {}
int ControlsToImage() { return 0; }
