#include "device/wnd.h"
// TODO(hotplug): not built yet.
unsigned windowCounter = 0;
LRESULT Wnd::HandleMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }
int Wnd::Create() { return 0; }
void Wnd::Destroy() {}
LRESULT CALLBACK Wnd::WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }
