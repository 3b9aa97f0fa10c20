#include "device/hid_com.h"
// TODO(hotplug): not built yet.
int hid_com::Attach(HWND) { return 0; }
void hid_com::RegisterNotify() {}
void hid_com::UnregisterNotify() {}
int hid_com::Open() { return 0; }
void hid_com::Close() {}
int hid_com::WriteReport(const void *) { return 0; }
int hid_com::FindIfIdle() { return 0; }
LRESULT hid_com::HandleMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }
unsigned __stdcall hid_com::ReaderLoop(void *) { return 0; }
