#include "device/hid_com.h"
// TODO(device): discovery not built yet.
hid_com hidDevice;
hid_com::hid_com() {}
hid_com::~hid_com() {}
void hid_com::SetMatch(uint16_t, uint16_t, uint16_t, uint8_t, uint8_t, const char *, const char *) {}
int hid_com::FindDevice() { return 0; }
uint32_t hid_com::ReadReportLengths(HANDLE) { return 0; }
